#pragma once

#include <QObject>

#include <initializer_list>
#include <vector>

class QWidget;

namespace korvane {

// While shut, the widgets it guards take no input from the operator: no click, typed key, access
// key, wheel, context menu or drop reaches them. Tab and Shift+Tab still move the focus on, so
// the keyboard can reach what stays open. The widgets keep their look and the focus stays where
// it is: nothing in the window moves or changes colour while it is shut.
class InputGate final : public QObject {
    Q_OBJECT
public:
    InputGate(std::initializer_list<QWidget*> guarded, QObject* parent);

    void shut() { m_shut = true; }
    void open() { m_shut = false; }
    bool isShut() const { return m_shut; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_shut = false;
};

} // namespace korvane
