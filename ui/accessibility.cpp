// SPDX-License-Identifier: MIT
#include "ui/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QTextDocumentFragment>
#include <QVariant>
#include <QWidget>

#include "ui/text_fit.h"
#include "ui/widgets.h"

namespace torvik::ui {

namespace {

constexpr const char* kAccessProperty = "torvikAccess";

QAccessible::Role role_of(Access access) {
    switch (access) {
        case Access::Window:
            return QAccessible::Window;
        case Access::StatusLine:
            return QAccessible::StatusBar;
        case Access::LinkState:
        case Access::LampState:
            // An image to screen readers (AT-SPI knows no lamp or LED).
            return QAccessible::Graphic;
        case Access::Own:
            break;
    }
    return QAccessible::Client;
}

// A widget with the role its row gives it. A label without a name of its
// own is named by its text as shown (mnemonic markers and markup taken
// out); a lamp is busy while its blinker runs.
class RoleAccessible final : public QAccessibleWidget {
  public:
    RoleAccessible(QWidget* widget, Access access) : QAccessibleWidget(widget, role_of(access)) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            if (const auto* label = qobject_cast<const QLabel*>(widget())) {
                const QString shown = label->textFormat() == Qt::PlainText
                                          ? label->text()
                                          : QTextDocumentFragment::fromHtml(label->text())
                                                .toPlainText();
                return shown.trimmed();
            }
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if (const auto* shape = qobject_cast<const ShapeWidget*>(widget())) s.busy = shape->busy();
        return s;
    }
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    const Access access = AccessOf(widget);
    if (access == Access::Own) return nullptr;
    return new RoleAccessible(widget, access);
}

}  // namespace

void InstallAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(&factory);
        return true;
    }();
    (void)installed;
}

void SetAccess(QWidget* widget, Access access) {
    widget->setProperty(kAccessProperty, static_cast<int>(access));
}

Access AccessOf(const QWidget* widget) {
    const QVariant v = widget->property(kAccessProperty);
    return v.isValid() ? static_cast<Access>(v.toInt()) : Access::Own;
}

}  // namespace torvik::ui
