'''A tray host for tests: the StatusNotifierWatcher with one host registered.

Items register with RegisterStatusNotifierItem; the mock's call log keeps them.
'''
import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddMethod(MAIN_IFACE, 'RegisterStatusNotifierItem', 's', '', '')
    mock.AddMethod(MAIN_IFACE, 'RegisterStatusNotifierHost', 's', '', '')
    mock.AddProperties(MAIN_IFACE, {
        'IsStatusNotifierHostRegistered': True,
        'ProtocolVersion': 0,
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
    })
