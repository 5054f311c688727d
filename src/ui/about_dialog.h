#pragma once

class QWidget;
class Registry;

// The about window: name, features, two description texts, the maker line and
// two links, all from the language table. Made once at start-up; each Run
// builds the dialog, shows it modally and discards it.
class AboutDialog {
public:
    explicit AboutDialog(Registry& registry);
    AboutDialog(const AboutDialog&) = delete;
    AboutDialog& operator=(const AboutDialog&) = delete;

    // Modal run owned by parent; ends with 0 (Close, Esc, the close box or
    // MainMenu::CancelOpenDialogs).
    int Run(QWidget* parent);

private:
    Registry& registry_;
};
