#pragma once

#include <cstdint>

class QWidget;
class Registry;
class WebServer;

// The web server's options window: the port and the start-after-launch flag.
// What it decides goes through the server's options calls.
class WebDialog {
public:
    WebDialog(Registry& registry, WebServer& server);
    WebDialog(const WebDialog&) = delete;
    WebDialog& operator=(const WebDialog&) = delete;

    // Modal run owned by parent: OK applies (moving a running server to a
    // changed port, saving only on a change), Cancel stores nothing. The
    // result is 1 after OK and 0 otherwise; the menu does not use it.
    int Run(QWidget* parent);

private:
    Registry& registry_;
    WebServer& server_;
};
