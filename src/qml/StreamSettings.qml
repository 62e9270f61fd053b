import com.tavolin 1.0

// The stored keys of one stream: the first stream's at the top level of the
// store, each further stream's in a group of its own ("stream2" ...).
StoredSettings {
    property string name: ""
    property string description: ""
    property string genre: ""
    property string url: ""
    property string hostname: "localhost"
    property int port: 8000
    property string mount: "live"
    property string user: "source"
    property string password: ""
    property string encoder: "MP3"
    property int encoderIndex: 0
    property string protocol: "HTTP"
    property int protocolIndex: 0
    property string bitrate: "128k"
    property int bitrateIndex: 12
    property int samplerate: 44100
    property int samplerateIndex: 4
    property string certificateFile: ""
    // Each title starts a new chain of an Ogg stream (Opus, Vorbis, FLAC).
    property bool inStreamTitles: false
    // Where listeners go; empty: worked out from the server's details.
    property string listenerUrl: ""
    // Now and then a listener's visit checks what listeners get.
    property bool listenerCheck: true
}
