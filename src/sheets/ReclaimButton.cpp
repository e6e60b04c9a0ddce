#include "sheets/ReclaimButton.h"

#include "sheets/ReclaimView.h"
#include "sheets/SheetHost.h"

ReclaimButton::ReclaimButton(AppStore& store, QString title, std::optional<ComposeProject> project,
                             QWidget* parent)
    // Shown verbatim: an ampersand is a character of the label, not a mnemonic marker.
    : VoskButton(title.replace(u'&', QStringLiteral("&&")), VoskButtonStyle::Variant::quiet, std::nullopt,
                 parent),
      m_store(store), m_project(std::move(project))
{
    setObjectName(QStringLiteral("reclaimButton"));
    connect(this, &QAbstractButton::clicked, this, &ReclaimButton::present);
}

void ReclaimButton::present()
{
    if (m_sheet && m_sheet->isVisible()) {
        m_sheet->raise();
        m_sheet->activateWindow();
        return;
    }
    m_sheet = SheetHost::open(this, new ReclaimView(m_store, m_project));
}

ReclaimView* ReclaimButton::sheet() const
{
    return m_sheet.data();
}
