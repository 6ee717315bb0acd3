// item_actions.h - opening a download's file and the program's web page.
#pragma once

// Opens the selected download's file with the desktop's handler (nothing
// when no download is selected).
void open_selected_file(void);
// Opens the program's web page in the browser.
void open_web_page(void);
