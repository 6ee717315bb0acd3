// settings.h - the settings panel.
#pragma once

// Opens the panel with the proxy values in force as its edited copy.
void open_settings_panel(void);
// Applies the edited proxy and saves every setting to the list file (the
// panel stays as it is).
void apply_settings(void);
// Closes the panel, then applies and saves.
void close_settings_panel(void);
// Hover tracking of the panel's controls at pointer_x, pointer_y while the
// panel is open: a control entered takes its hover look and becomes
// hover_id, one left its normal look.  The proxy fields count only while
// the proxy is ticked.
void track_settings_hover(void);
// A left press (or double press) on the panel's control id (9 to 19): its
// command.  The folder button runs the folder chooser.
void press_settings_element(int id);
// Applies the key the per-message step latched (pending_key: a fresh digit
// or Backspace) to the field being edited.
void apply_settings_key(void);
