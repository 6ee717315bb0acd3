// loopback_proxy.h - sends every request of the program through a proxy on
// 127.0.0.1 (the demo web or a test's own listener).
#pragma once

#include "app/app_state.h"

// Every request goes to 127.0.0.1:port in the proxy form.
inline void use_loopback_proxy(int port) {
    app_state.use_proxy = 1;
    app_state.proxy_address[0] = 127;
    app_state.proxy_address[1] = 0;
    app_state.proxy_address[2] = 0;
    app_state.proxy_address[3] = 1;
    app_state.proxy_port = port;
}
