#pragma once

#include <QLineEdit>

// A field in which a double click selects from where the selection starts to the end of the
// text: the whole text when the click lands in its first word.
class SelectToEndLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    using QLineEdit::QLineEdit;

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
