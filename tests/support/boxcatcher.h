#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

// Answers every message box as it appears and keeps its text, so that tests can run code that
// asks the user.
class BoxCatcher : public QObject
{
public:
    BoxCatcher() { qApp->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && event->type() == QEvent::Show) {
            texts << box->text();
            QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
        }
        return false;
    }

    QStringList texts;
};
