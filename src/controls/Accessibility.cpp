#include "Accessibility.h"

#include "BusyIndicator.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QVariant>
#include <QWidget>
#include <mutex>

namespace {

// Where a widget keeps the role it was given.
constexpr const char* RoleProperty = "rztAccessibleRole";

class RoleAccessible : public QAccessibleWidget {
public:
    RoleAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    QString text(QAccessible::Text t) const override {
        // A status line is read by what it says; QLabel reports each change of its text as a
        // change of name.
        if (t == QAccessible::Name && role() == QAccessible::StatusBar &&
            widget()->accessibleName().isEmpty()) {
            if (const auto* label = qobject_cast<const QLabel*>(widget())) return label->text();
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        if (const auto* busy = qobject_cast<const BusyIndicator*>(widget())) {
            state.busy = busy->IsRunning();
            state.readOnly = true;
        }
        if (role() == QAccessible::StatusBar) state.readOnly = true;
        return state;
    }
};

QAccessibleInterface* RoleFactory(const QString&, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    const QVariant role = object->property(RoleProperty);
    if (!role.isValid()) return nullptr;
    return new RoleAccessible(static_cast<QWidget*>(object),
                              static_cast<QAccessible::Role>(role.toInt()));
}

} // namespace

void GiveAccessibleRole(QWidget* widget, QAccessible::Role role) {
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(RoleFactory); });
    widget->setProperty(RoleProperty, static_cast<int>(role));
    // Qt makes a widget's description the first time anything about it changes, and keeps
    // it; one made before the role was given describes the wrong thing.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
    if (made && made->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void TieCaption(QLabel* caption, QWidget* field) {
    caption->setBuddy(field);
}
