// settings.h - the settings panel.
#pragma once

// Applies a fresh digit or Backspace to the settings field being edited.
void apply_settings_key(void);
