#pragma once

#include <QString>
#include <cstdint>

class QWidget;
class Registry;
class WebServer;

// What the user is told when a web server start they asked for failed.
namespace web_start_failure {

// The reason in the user's language: port in use, port needs privileges, or
// the system's own text of error.
QString Text(Registry& registry, int32_t port, int error);

// After a Start the user asked for: a message box with the reason when the
// server is not running; true when one was shown.
bool ShowIfFailed(Registry& registry, WebServer& server, QWidget* parent);

}  // namespace web_start_failure
