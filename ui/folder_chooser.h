// folder_chooser.h - choosing the download folder, and the guard a modal
// dialog over the window runs inside.
#pragma once

// Runs the desktop's folder chooser, opened on the current download folder.
// A confirmed path replaces download_folder only when it is not empty and
// the list file can hold it whole; otherwise the folder stays as it was.
// Memory only: the settings save writes it.  Does nothing while a modal
// dialog is already open.
void choose_download_folder(void);

// Around every modal dialog the window opens.  While one runs, its own
// message loop delivers the window's timer, so the heartbeat, the engine
// and the tray icon go on; pointer messages, keys and the settings panel's
// commands are ignored (modal_depth > 0).  When the last one closes,
// nothing pressed or hovered before it is left over.
void enter_modal(void);
void leave_modal(void);
