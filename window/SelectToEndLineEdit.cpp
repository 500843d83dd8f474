#include "SelectToEndLineEdit.h"

void SelectToEndLineEdit::mouseDoubleClickEvent(QMouseEvent *event)
{
    QLineEdit::mouseDoubleClickEvent(event);
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    setSelection(start, static_cast<int>(text().size()) - start);
}
