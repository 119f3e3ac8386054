#include "app/MainMod.h"

#include <QLineEdit>

namespace korvane {

void SelectAllText(QLineEdit& field)
{
    field.setSelection(0, static_cast<int>(field.text().size()));
}

} // namespace korvane
