// probe.cpp - the connectivity probe that gates capture and downloading.
//
// One request to one of three fixed targets (through the proxy when one is
// set); any byte of an answer means the network is reachable.  A target that
// fails makes the next probe use the next one.
//
// The probe never waits for the network: the engine calls it once per step,
// and each call looks once at where it stands - the connect under way, then
// (the request sent as soon as the connect is made) the answer awaited -
// against a deadline on now_tick.  So a dead proxy or a network that drops
// packets costs the window nothing, where a waiting probe held it for up to
// the connect's bound or the answer's wait every few seconds.  Only the name
// look-up of a direct probe may still hold one step, for at most
// RESOLVE_TIMEOUT_MS; through the proxy there is none.

#include "app/app_state.h"
#include "app/strings.h"
#include "platform/platform.h"
#include "ui/probe.h"
#include "web/web.h"

namespace {

const StringEntry PROBE_TARGETS[3] = {STR_PROBE_1, STR_PROBE_2, STR_PROBE_3};
// A target that accepts the connection and then stays silent counts as a
// failure after this long.
const int PROBE_ANSWER_WAIT_MS = 3000;
const int PROBE_READ_SIZE = 100;

int current_target(void) {
    int target = app_state.probe_target;
    return target < 0 || target > 2 ? 0 : target;
}

const char *target_address(void) { return string_entry(PROBE_TARGETS[current_target()]); }

bool deadline_passed(void) { return (int32_t)(app_state.now_tick - app_state.probe_deadline) >= 0; }

// Ends the probe in flight with its result: a target that answered is kept
// for the next probe, one that failed gives way to the next.
int finish_probe(int answered) {
    int target = current_target();
    probe_abandon();
    app_state.probe_target = answered ? target : (target + 1) % 3;
    return answered;
}

// Starts the connect to the current target; 0 when there is nothing to
// wait for (the host is not found, no socket).
int start_probe(void) {
    app_state.probe_proxy = app_state.use_proxy;
    app_state.probe_socket = start_request(app_state.probe_proxy, target_address());
    if (!app_state.probe_socket) return 0;
    app_state.probe_phase = PROBE_CONNECTING;
    // The clock is read again: a direct probe's look-up may have held this
    // step, and the connect's bound counts from the connect, as it did when
    // the connect was waited for.
    app_state.probe_deadline = plat_tick() + CONNECT_TIMEOUT_MS;
    return 1;
}

}  // namespace

int probe_connectivity(void) {
    if (app_state.probe_phase == PROBE_IDLE && !start_probe()) return finish_probe(0);
    plat_socket s = app_state.probe_socket;

    if (app_state.probe_phase == PROBE_CONNECTING) {
        int connect = plat_connect_result(s);
        if (connect < 0) return finish_probe(0);
        if (connect == 0) return deadline_passed() ? finish_probe(0) : PROBE_IN_FLIGHT;
        // Connected: the request goes out at once, and the answer has its
        // own wait from now.
        if (!send_request(s, app_state.probe_proxy, target_address(), 0, 0)) return finish_probe(0);
        app_state.probe_phase = PROBE_WAITING;
        app_state.probe_deadline = app_state.now_tick + PROBE_ANSWER_WAIT_MS;
    }

    // Readable means bytes have come, or the connection has closed: the
    // receive tells which, without waiting.
    if (plat_wait_readable(s, 0)) {
        char answer[PROBE_READ_SIZE];
        return finish_probe(plat_recv(s, answer, PROBE_READ_SIZE) > 0);
    }
    return deadline_passed() ? finish_probe(0) : PROBE_IN_FLIGHT;
}

void probe_abandon(void) {
    if (app_state.probe_socket) plat_close_socket(app_state.probe_socket);
    app_state.probe_socket = 0;
    app_state.probe_phase = PROBE_IDLE;
}
