#pragma once

#include <QComboBox>

// A combo box that reports a left-button press before it drops its list down, so that the
// owner can refresh the items first.
class MyComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit MyComboBox(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
