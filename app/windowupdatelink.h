#pragma once

#include "updatelink.h"

class MainWindow;

// The window's link: every call goes through the window's own slots, which read the
// link check box afresh each time, so the choice can change between two frames.
class WindowUpdateLink : public UpdateLink
{
public:
    explicit WindowUpdateLink(MainWindow *window);

    void writeFrame(const char *data, qint64 len) override;
    QByteArray waitReply(int timeoutMs) override;
    void sendBootEntry() override;
    bool usesGateway() const override;
    void delayMs(uint ms) override;
    QString unavailableReason() const override;

private:
    MainWindow *mainWindow;
};
