#include "screens/AddProjectButton.h"

#include "screens/ProjectChooser.h"
#include "store/AppStore.h"

AddProjectButton::AddProjectButton(AppStore& store, VoskButtonStyle::Variant variant, QWidget* parent)
    : VoskButton(QStringLiteral("Add project…"), variant, std::nullopt, parent), m_store(store)
{
    setObjectName(QStringLiteral("addProjectButton"));
    setToolTip(QStringLiteral("Choose a directory with a compose file, and the runtime to run it on"));
    connect(this, &VoskButton::clicked, this, &AddProjectButton::pick);
}

void AddProjectButton::pick()
{
    addChosenProject(&m_store, this);
}
