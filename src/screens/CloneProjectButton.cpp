#include "screens/CloneProjectButton.h"

#include "screens/CloneProjectView.h"

CloneProjectButton::CloneProjectButton(AppStore& store, QWidget* parent)
    : VoskButton(QStringLiteral("Clone a repository…"), VoskButtonStyle::Variant::quiet, std::nullopt,
                 parent),
      m_store(store)
{
    setObjectName(QStringLiteral("cloneProjectButton"));
    setToolTip(QStringLiteral("Clone a git repository and add it as a project"));
    connect(this, &VoskButton::clicked, this, [this] { CloneProjectView::open(this, m_store); });
}
