// The floor for the selection dialog: a bare Qt program that creates its
// application object and shows one empty dialog holding a list widget. At
// the first paint it prints the steady-clock time in nanoseconds and exits.
#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QVBoxLayout>

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Paint) {
            std::printf("paint %lld\n", static_cast<long long>(
                                            std::chrono::steady_clock::now().time_since_epoch().count()));
            std::fflush(stdout);
            _exit(0);
        }
        return QObject::eventFilter(pObject, pEvent);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    FirstPaint filter;
    app.installEventFilter(&filter);
    QDialog dialog;
    auto* pLayout = new QVBoxLayout(&dialog);
    pLayout->addWidget(new QListWidget(&dialog));
    dialog.exec();
    return 1;
}
