import com.tavolin 1.0

// The stored keys of one stream: the first stream's at the top level of the
// store, each further stream's in a group of its own ("stream2" ...).
StoredSettings {
    property string name: StoredDefaults.stream.name
    property string description: StoredDefaults.stream.description
    property string genre: StoredDefaults.stream.genre
    property string url: StoredDefaults.stream.url
    property string hostname: StoredDefaults.stream.hostname
    property int port: StoredDefaults.stream.port
    property string mount: StoredDefaults.stream.mount
    property string user: StoredDefaults.stream.user
    property string password: StoredDefaults.stream.password
    property string encoder: StoredDefaults.stream.encoder
    property int encoderIndex: StoredDefaults.stream.encoderIndex
    property string protocol: StoredDefaults.stream.protocol
    property int protocolIndex: StoredDefaults.stream.protocolIndex
    property string bitrate: StoredDefaults.stream.bitrate
    property int bitrateIndex: StoredDefaults.stream.bitrateIndex
    property int samplerate: StoredDefaults.stream.samplerate
    property int samplerateIndex: StoredDefaults.stream.samplerateIndex
    property string certificateFile: StoredDefaults.stream.certificateFile
    // Each title starts a new chain of an Ogg stream (Opus, Vorbis, FLAC).
    property bool inStreamTitles: StoredDefaults.stream.inStreamTitles
    // Where listeners go; empty: worked out from the server's details.
    property string listenerUrl: StoredDefaults.stream.listenerUrl
    // Now and then a listener's visit checks what listeners get.
    property bool listenerCheck: StoredDefaults.stream.listenerCheck
}
