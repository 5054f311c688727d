'''A desktop portal for tests: GlobalShortcuts only.

Grants every shortcut with its preferred trigger as description and lists it
in later sessions; with the parameter refuse, answers every bind with 2.
'''
import dbus
from dbusmock import mockobject
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.GlobalShortcuts'
SYSTEM_BUS = False
BOUND = []


def load(mock, parameters):
    mock.refuse = parameters.get('refuse', False)
    mock.AddProperties(MAIN_IFACE, {'version': dbus.UInt32(1)})


def respond(mock, kind, sender, token, code, results):
    path = '%s/%s/%s/%s' % (MAIN_OBJ, kind, sender[1:].replace('.', '_'), token)
    if path not in mockobject.objects:
        mock.AddObject(path, 'org.freedesktop.portal.Request', {}, [])

    def emit():
        mockobject.objects[path].EmitSignal('org.freedesktop.portal.Request', 'Response', 'ua{sv}',
                                            [dbus.UInt32(code), results])
        return False
    GLib.timeout_add(20, emit)
    return dbus.ObjectPath('%s/request/%s/%s' % (MAIN_OBJ, sender[1:].replace('.', '_'), token))


def listing():
    return dbus.Array([dbus.Struct((i, p), signature='sa{sv}') for i, p in BOUND], signature='(sa{sv})')


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender):
    session = '%s/session/%s/%s' % (MAIN_OBJ, sender[1:].replace('.', '_'), options['session_handle_token'])
    return respond(self, 'request', sender, options['handle_token'], 0,
                   {'session_handle': dbus.String(session, variant_level=1)})


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def ListShortcuts(self, session, options, sender):
    return respond(self, 'request', sender, options['handle_token'], 0, {'shortcuts': listing()})


@dbus.service.method(MAIN_IFACE, in_signature='oa(sa{sv})sa{sv}', out_signature='o', sender_keyword='sender')
def BindShortcuts(self, session, shortcuts, parent, options, sender):
    self.log('BindShortcuts %s session %s' % (' '.join(str(i) for i, _ in shortcuts), session))
    if self.refuse:
        return respond(self, 'request', sender, options['handle_token'], 2, {})
    for shortcut_id, properties in shortcuts:
        trigger = properties.get('preferred_trigger', '')
        BOUND.append((shortcut_id, {'description': properties.get('description', ''),
                                    'trigger_description': dbus.String('Desktop: ' + trigger, variant_level=1)}))
    return respond(self, 'request', sender, options['handle_token'], 0, {'shortcuts': listing()})
