// A full-screen Wayland window whose whole picture changes at 30 Hz: the
// background's hue turns and a white bar crosses it. Exits after the given
// seconds (default 600).
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>

class MovingPicture : public QRasterWindow {
public:
    int frame = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(0, 0), size()), QColor::fromHsv((frame * 7) % 360, 200, 160));
        const int x = (frame * 23) % std::max(1, width());
        painter.fillRect(x, 0, 80, height(), Qt::white);
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    MovingPicture window;
    window.showFullScreen();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &window, [&window] {
        ++window.frame;
        window.update();
    });
    tick.start(33);
    QTimer::singleShot((argc > 1 ? std::atoi(argv[1]) : 600) * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
