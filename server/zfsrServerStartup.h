// Start-up and shut-down of the server layer: the mapping layer below (and with it every layer
// under it), then the server's own units in link order.
#pragma once

namespace zf {

// Counted: the first start starts the mapping layer and the server units; the last stop runs the
// list backwards and stops the mapping layer.
void zfStartServer();
void zfStopServer();

}  // namespace zf
