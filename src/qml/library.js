.pragma library

// Starts or stops streaming with the stored settings; whether it did. The
// caller passes busy while a run is being set up or stopped: a tap then would
// only queue a stop the engine cannot act on yet, or start a new run.
// furtherStreams: the stored settings of the streams after the first.
function startPlayer(playerModel, streamSettings, liveSourceSettings, busy, furtherStreams) {
    if (busy)
        return false;
    playerModel.togglePlayPause(settingsMap(streamSettings, liveSourceSettings, furtherStreams || []));
    return true;
}

// The stored settings objects of the streams that a start sends: the first,
// then each further one that is on.
function runSettingsOf(streamSettings, furtherStreams) {
    return [streamSettings].concat(furtherStreams.filter(function (stream) { return stream.enabled; }));
}

// The engine gets plain values, never the live settings objects: the first
// stream as "stream", each further one that is on in "streams".
function settingsMap(streamSettings, liveSourceSettings, furtherStreams) {
    var run = runSettingsOf(streamSettings, furtherStreams);
    var map = {
        "stream": plainCopy(run[0]),
        "liveSource": {
            "index": liveSourceSettings.deviceIndex,
            "name": liveSourceSettings.deviceName
        }
    };
    if (run.length > 1)
        map.streams = run.slice(1).map(plainCopy);
    return map;
}

function plainCopy(settings) {
    return JSON.parse(JSON.stringify(settings));
}

// A stored stream's "label" and "format" as the engine names them; read key
// by key, so that a binding follows each.
function describedStream(playerModel, settings) {
    return playerModel.describeStream({
        "name": settings.name, "hostname": settings.hostname, "port": settings.port, "mount": settings.mount,
        "protocol": settings.protocol, "encoder": settings.encoder, "bitrate": settings.bitrate,
        "samplerate": settings.samplerate
    });
}

// What the run shows of a stored stream: its entry among the run's streams,
// found by the settings object that started it (runSettings), so that a
// stream switched on or off since shows no other's state; {} for a stream
// that was not in the run.
function runStateOf(settings, runSettings, runStreams) {
    var position = runSettings.indexOf(settings);
    return position < 0 ? {} : runStreams[position] || {};
}

function setTimeout(fn, delay, root) {
    var timer = Qt.createQmlObject("import QtQuick 2.0; Timer {}", root);
    timer.interval = delay;
    timer.repeat = false;
    timer.triggered.connect(fn);
    timer.start();
}

// The entry to select when the source list is first filled: the stored device
// wherever the system lists it now, so that an unplugged device or a new order
// does not silently switch to another one; else the stored position.
function initialSourceIndex(sources, deviceIndex, currentIndex) {
    for (var i = 0; i < sources.length; ++i) {
        if (String(sources[i].index) === deviceIndex)
            return i;
    }
    return currentIndex;
}

// The local path of a file URL as the file dialogs give it ("file:///C:/x"
// on Windows is "C:/x").
function localPath(url) {
    var path = decodeURIComponent(String(url).replace(/^file:\/\//, ""));
    return /^\/[A-Za-z]:/.test(path) ? path.substring(1) : path;
}

// The entries of a choice box that shows a stored value: the window's own
// choices, and the stored value too where it is none of them (a file written
// by hand), before the first choice of a greater number.
function choicesWith(choices, stored) {
    if (choices.indexOf(stored) >= 0)
        return choices;
    var at = choices.length;
    for (var i = 0; i < choices.length; ++i) {
        if (parseFloat(choices[i]) > parseFloat(stored)) {
            at = i;
            break;
        }
    }
    return choices.slice(0, at).concat([stored], choices.slice(at));
}

// Stores a choice as its value and its index among the window's choices,
// unless it is the stored value: a value the window does not offer stays
// stored, index and all, until the user chooses another.
function storeChoice(settings, key, indexKey, value, choices) {
    if (settings[key] === value)
        return;
    settings[key] = value;
    settings[indexKey] = choices.indexOf(value);
}

// "12 listeners", "1 listener"; empty where the server tells no count.
function listenersText(count) {
    if (count === undefined || count < 0)
        return "";
    return count + (count === 1 ? " listener" : " listeners");
}
