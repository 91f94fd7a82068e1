#pragma once

#include <QMutex>
#include <QThread>

// The send engine. Public interface fixed here so the window can be written against it;
// members and the rest are the send engine issue's.
class SendThread : public QThread
{
    Q_OBJECT
public:
    explicit SendThread(QObject *parent);
    ~SendThread() override;

    bool initNDI();
    void startSend(int width, int height, int left, int top);
    void stopSend();

signals:
    void sendCurFPS(float);

protected:
    void run() override;
};
