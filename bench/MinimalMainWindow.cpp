// The yardsticks for the start-up benchmark: the least a Qt program does to
// show a main window and, with --chrome, the same window with a menu bar, a
// tool bar and a status bar, the parts any desktop application's main
// window carries.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    if (argc > 1 && std::strcmp(argv[1], "--chrome") == 0) {
        QMenu* pFile = window.menuBar()->addMenu(QStringLiteral("&File"));
        pFile->addAction(QStringLiteral("&New"));
        pFile->addAction(QStringLiteral("E&xit"));
        window.menuBar()->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About"));
        window.addToolBar(QStringLiteral("Tools"))->addAction(QStringLiteral("New"));
        window.statusBar()->addWidget(new QLabel(QStringLiteral("Ready")), 1);
    }
    window.resize(800, 600);
    window.show();
    return app.exec();
}
