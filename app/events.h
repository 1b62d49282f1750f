// The three bound events of the main window. Each handler runs on the window's thread and may
// pump messages, so another handler can run nested inside it.
#pragma once

#include "app/main_window.h"

// After the window and all fourteen controls exist, before the message loop starts.
void OnMainWindowCreated(MainWindow& window);
// A click on 按钮_刷新模拟器.
void OnRefreshClicked(MainWindow& window);
// A click on 按钮_一键生成快照.
void OnOneKeyClicked(MainWindow& window);
