#pragma once

// True when an XEmbed tray owns the X11 selection "_NET_SYSTEM_TRAY_S0";
// false off X11. Asked of the X server directly: Qt's own answer would also
// settle, once for the whole run, whether a D-Bus tray host exists.
bool X11TrayHostPresent();
