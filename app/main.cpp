// nimbrel: the main window on the machine's serial ports and the user's settings.
#include "frmNimbrel.h"
#include "serial_port.h"
#include "settings_store.h"
#include "weather.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    auto port = platform::make_serial_port();
    auto lister = platform::make_port_lister();
    weather::Link link(*port, *lister);
    auto store = platform::make_settings_store();
    main_window::frmNimbrel window(link, *store);
    window.show();
    return app.exec();
}
