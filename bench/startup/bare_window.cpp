// The yardstick for the start-up benchmark: a bare Qt Widgets window that holds what nimbrel's
// main window holds (a menu, five boxes, five labels, a 2-second timer) and nothing of its own.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("bare"));

    QMenu* options = window.menuBar()->addMenu(QStringLiteral("Options"));
    options->addAction(QStringLiteral("none"))->setCheckable(true);
    options->addSeparator();
    options->addAction(QStringLiteral("Auto"));
    options->addSeparator();
    options->addAction(QStringLiteral("Show Jet Fields"))->setCheckable(true);

    auto* client = new QWidget(&window);
    window.setCentralWidget(client);
    QFont big = window.font();
    big.setPointSizeF(13.5);
    big.setBold(true);
    for (int i = 0; i < 5; ++i) {
        auto* box = new QLineEdit(QStringLiteral("0"), client);
        box->setGeometry(150, 4 + 28 * i, 80, 26);
        if (i < 3)
            box->setFont(big);
        (new QLabel(QStringLiteral("Reading %1").arg(i + 1), client))->move(8, 10 + 28 * i);
    }

    QTimer timer; // ticks like nimbrel's, with nothing to do
    timer.start(2000);

    window.setFixedSize(283, window.menuBar()->sizeHint().height() + 148);
    window.show();
    return app.exec();
}
