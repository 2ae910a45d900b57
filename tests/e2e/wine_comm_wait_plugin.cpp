// Only a carrier: Qt loads the generic plugins named in QT_QPA_GENERIC_PLUGINS while
// QGuiApplication starts, before any window or port exists, which is the moment
// wine_comm_wait.c needs for its DllMain. It makes no input device.
#include <QtGui/QGenericPlugin>

class WineCommWaitPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "wine_comm_wait_plugin.json")
public:
    QObject *create(const QString &, const QString &) override { return new QObject(this); }
};

#include "wine_comm_wait_plugin.moc"
