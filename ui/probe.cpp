// probe.cpp - the connectivity probe that gates capture and downloading.
//
// One request to one of three fixed targets (through the proxy when one is
// set); any byte of an answer means the network is reachable.  A target that
// fails makes the next probe use the next one.

#include "app/app_state.h"
#include "app/strings.h"
#include "platform/platform.h"
#include "ui/probe.h"
#include "web/web.h"

namespace {

const StringEntry PROBE_TARGETS[3] = {STR_PROBE_1, STR_PROBE_2, STR_PROBE_3};
// A target that accepts the connection and then stays silent counts as a
// failure after this long, so the window is never held longer.
const int PROBE_ANSWER_WAIT_MS = 3000;
const int PROBE_READ_SIZE = 100;

}  // namespace

int probe_connectivity(void) {
    int target = app_state.probe_target;
    if (target < 0 || target > 2) target = 0;
    uint32_t s = 0;
    int sent = open_request(&s, app_state.use_proxy, string_entry(PROBE_TARGETS[target]), 0, 0);
    if (s) {
        // After a connect that failed or timed out no answer can come: the
        // window is not held for the answer wait on top of the connect's.
        char answer[PROBE_READ_SIZE];
        if (sent && plat_wait_readable(s, PROBE_ANSWER_WAIT_MS) &&
            plat_recv(s, answer, PROBE_READ_SIZE) > 0) {
            plat_close_socket(s);
            app_state.probe_target = target;
            return 1;
        }
        plat_close_socket(s);
    }
    app_state.probe_target = (target + 1) % 3;
    return 0;
}
