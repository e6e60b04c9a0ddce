#include "support/Widgets.h"

#include "app/design/Fonts.h"
#include "app/design/Theme.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTest>

namespace TestSupport {

void prepareWidgets()
{
    registerBundledFonts();
    Theme::instance().install(false);
    Theme::instance().setAppearance(Appearance::light);
}

QString galleryDir()
{
    return QStringLiteral(VOSKEL_GALLERY_DIR);
}

QStringList renderToGallery(const QString& name, const std::function<std::unique_ptr<QWidget>()>& make,
                            int width, int height)
{
    prepareWidgets();
    QStringList written;
    const QDir dir(galleryDir());
    if (!dir.mkpath(QStringLiteral(".")))
        return written;
    for (const Appearance appearance : {Appearance::light, Appearance::dark}) {
        Theme::instance().setAppearance(appearance);
        const std::unique_ptr<QWidget> widget = make();
        widget->ensurePolished();
        const int w = width > 0 ? width : widget->sizeHint().width();
        int h = height;
        if (h <= 0)
            h = widget->hasHeightForWidth() ? widget->heightForWidth(w) : widget->sizeHint().height();
        widget->resize(w, std::max(h, 1));
        const QString file = dir.filePath(QStringLiteral("%1-%2.png").arg(name, rawValue(appearance)));
        if (widget->grab().toImage().save(file))
            written << file;
    }
    Theme::instance().setAppearance(Appearance::automatic);
    return written;
}

QStringList tabStops(QWidget& window, int presses, QWidget* from)
{
    window.show();
    QApplication::setActiveWindow(&window);
    if (!QTest::qWaitForWindowActive(&window))
        return {QStringLiteral("(window never became active)")};
    if (from)
        from->setFocus(Qt::OtherFocusReason);
    else if (QWidget* focus = QApplication::focusWidget())
        focus->clearFocus();
    QStringList reached;
    for (int i = 0; i < presses; ++i) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &window, Qt::Key_Tab);
        focus = QApplication::focusWidget();
        reached << (focus ? focus->objectName() : QStringLiteral("(nothing)"));
    }
    return reached;
}

} // namespace TestSupport
