#pragma once

#include "app/design/VoskButton.h"

class AppStore;

// "Add project…": the folder chooser with its runtime pop-up, then the store adds the folder. The
// flow runs on when the button goes meanwhile (the empty state that holds it leaves as soon as the
// project is listed).
class AddProjectButton : public VoskButton {
    Q_OBJECT

public:
    AddProjectButton(AppStore& store, VoskButtonStyle::Variant variant, QWidget* parent = nullptr);

private:
    void pick();

    AppStore& m_store;
};
