#pragma once

#include "app/design/VoskButton.h"

class AppStore;

// "Clone a repository…": opens the clone form over the window that holds the button. The form stays
// when the button goes (the empty state that holds it leaves as soon as a project is listed).
class CloneProjectButton : public VoskButton {
    Q_OBJECT

public:
    explicit CloneProjectButton(AppStore& store, QWidget* parent = nullptr);

private:
    AppStore& m_store;
};
