// fake_instance.cpp - the test backend's meeting of instances: listens are
// recorded, a test knocks in place of a second start, and a test says
// whether another instance answers a start that finds its list held.
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"

namespace {

struct FakeInstances {
    std::vector<FakeInstanceListen> listens;
    bool other_running = false;
    std::string other_key;
    std::vector<std::string> signals;
};

FakeInstances &instances() {
    static FakeInstances i;
    return i;
}

}  // namespace

void fake_instance_reset(void) { instances() = FakeInstances(); }

void fake_instance_window_destroyed(plat_window window) {
    for (FakeInstanceListen &l : instances().listens)
        if (l.window == window) l.active = false;
}

const std::vector<FakeInstanceListen> &fake_instance_listens(void) { return instances().listens; }

int fake_knock(void) {
    for (const FakeInstanceListen &l : instances().listens) {
        if (!l.active) continue;
        plat_post_message(l.window, l.message, 0, 0);
        return 1;
    }
    return 0;
}

void fake_set_running_instance(const char *key) {
    instances().other_running = key != nullptr;
    instances().other_key = key ? key : "";
}

const std::vector<std::string> &fake_instance_signals(void) { return instances().signals; }

// Only the other instance a test set up answers, and only under its key: a
// listen of this same program is not another instance.
int plat_signal_running_instance(const char *key) {
    FakeInstances &i = instances();
    i.signals.push_back(key ? key : "");
    return i.other_running && key && i.other_key == key;
}

// A new listen replaces the one before, as the backends do.
int plat_listen_for_instances(plat_window window, const char *key, uint32_t message) {
    if (!window || !key || !*key) return 0;
    for (FakeInstanceListen &l : instances().listens) l.active = false;
    instances().listens.push_back(FakeInstanceListen{window, key, message, true});
    return 1;
}
