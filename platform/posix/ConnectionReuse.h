// Whether the internet sessions keep connections and TLS sessions for later requests (they do
// unless told). Off, every request and opened URL makes its own connection and full TLS
// handshake, as a program without a session's pool does: the download bench's "before" rows.
#pragma once

namespace platform {

void SetConnectionReuse(bool reuse);

}  // namespace platform
