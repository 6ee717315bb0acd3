// win32_instance.cpp - the request a second start sends the instance that
// already runs on the same list: "show your window", and its answer.
//
// The listening instance owns a hidden message-only window whose title is
// derived from the key (the list file's absolute path): "Quorvax-" and 16
// hex digits of a 64-bit FNV-1a hash of it, as the Linux backend names its
// socket.  A second start finds that window and sends it the request with a
// time bound; the window's procedure posts the program's message to the
// main window and answers.  Message-only windows are seen only from the
// same desktop, so instances in other sessions never meet.
//
// The helper lives as long as the main window: the main window is
// subclassed to destroy the helper when it is destroyed itself.
#include "platform/win32/win32_backend.h"
#include "platform/instance_name.h"

#include <commctrl.h>

#include <cstring>

namespace {

const wchar_t HELPER_CLASS[] = L"QuorvaxInstance";
// The request: a private message with a fixed parameter, and the answer
// the helper returns when it has passed the request on.
const UINT REQUEST_MESSAGE = WM_APP + 0x2F3;
const WPARAM REQUEST_WORD = 0x51565853;   // "QVXS"
const LRESULT ANSWER = 0x4B;
const UINT SIGNAL_TIMEOUT_MS = 1000;
const UINT_PTR SUBCLASS_ID = 0x5156;

struct Listener {
    HWND helper = nullptr;
    HWND window = nullptr;
    UINT message = 0;
};

Listener listener;

const int NAME_CAP = 32;

// "Quorvax-" and the hash in 16 lower-case hex digits.
void instance_name(const char *key, wchar_t out[NAME_CAP]) {
    static const wchar_t prefix[] = L"Quorvax-";
    static const wchar_t digits[] = L"0123456789abcdef";
    const int start = (int)(sizeof prefix / sizeof prefix[0]) - 1;
    memcpy(out, prefix, start * sizeof(wchar_t));
    const uint64_t h = instance_key_hash(key);
    for (int i = 0; i < 16; i++) out[start + i] = digits[(h >> (60 - 4 * i)) & 0xF];
    out[start + 16] = 0;
}

LRESULT CALLBACK helper_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == REQUEST_MESSAGE && wparam == REQUEST_WORD) {
        if (hwnd != listener.helper || !IsWindow(listener.window)) return 0;
        PostMessageW(listener.window, listener.message, 0, 0);
        return ANSWER;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

bool register_helper_class(void) {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSW wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = helper_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = HELPER_CLASS;
    registered = RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered;
}

LRESULT CALLBACK main_window_subclass(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                      DWORD_PTR data);

void stop_listening(void) {
    if (listener.window) RemoveWindowSubclass(listener.window, main_window_subclass, SUBCLASS_ID);
    if (listener.helper) DestroyWindow(listener.helper);
    listener = Listener();
}

// Ends listening as the main window goes.
LRESULT CALLBACK main_window_subclass(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                      DWORD_PTR data) {
    if (message == WM_NCDESTROY && hwnd == listener.window) stop_listening();
    return DefSubclassProc(hwnd, message, wparam, lparam);
}

}  // namespace

// SendMessageTimeout waits for the answer at most a second, and gives up at
// once when the other instance does not take messages at all (hung).
int plat_signal_running_instance(const char *key) {
    if (!key || !*key) return 0;
    wchar_t name[NAME_CAP];
    instance_name(key, name);
    HWND helper = FindWindowExW(HWND_MESSAGE, nullptr, HELPER_CLASS, name);
    if (!helper) return 0;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(helper, REQUEST_MESSAGE, REQUEST_WORD, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                             SIGNAL_TIMEOUT_MS, &result))
        return 0;
    return result == (DWORD_PTR)ANSWER ? 1 : 0;
}

// Requests arrive as sent messages, which Windows delivers to the helper
// while the thread retrieves its messages (in a modal loop too): nothing
// here waits.
int plat_listen_for_instances(plat_window window, const char *key, uint32_t message) {
    stop_listening();
    HWND target = win32_hwnd(window);
    if (!key || !*key || !IsWindow(target) || !register_helper_class()) return 0;
    wchar_t name[NAME_CAP];
    instance_name(key, name);
    HWND helper = CreateWindowExW(0, HELPER_CLASS, name, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!helper) return 0;
    if (!SetWindowSubclass(target, main_window_subclass, SUBCLASS_ID, 0)) {
        DestroyWindow(helper);
        return 0;
    }
    listener.helper = helper;
    listener.window = target;
    listener.message = message;
    return 1;
}
