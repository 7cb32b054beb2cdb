#pragma once

namespace PelkPlus {

// What kind of failure ended a download, beside the text that says it in words: whether trying
// again may help (Network, Server) or the file itself is wrong (Size, Digest).
enum class DownloadFailure {
    None,
    // The local file could not be opened or written.
    FileError,
    // The request was refused before or without a transfer: not http(s), no length announced.
    Refused,
    // The connection failed, timed out or was cut off, and retries did not help.
    Network,
    // The server answered with an error status or resumed at the wrong byte.
    Server,
    // More bytes than announced or allowed, or fewer than announced.
    Size,
    // The bytes arrived but are not the file the catalogue describes.
    Digest,
    // The server sent the file too slowly to finish within the request's whole bound; the text
    // names the server.
    TooSlow,
};

} // namespace PelkPlus
