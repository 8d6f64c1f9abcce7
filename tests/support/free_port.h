#pragma once

namespace velmo::test {

// A TCP port on 127.0.0.1 that nobody listened on a moment ago: the system picks one, the socket is
// closed again. For servers started in another process, and for a port that refuses connections.
int freePort();

} // namespace velmo::test
