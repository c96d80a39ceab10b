#!/usr/bin/python3
"""Starts a program and records what a screen reader gets from it over AT-SPI.

It runs an accessibility bus of its own for the program and itself, so no other application
on the display is read or heard, and none of them meets this bus. It waits until each
--expect text shows in the program's tree (as an object's name or text), writes the tree,
presses the object named --press and writes the events that follow until one carries the
--await text. Lines of --out, tab-separated:
    node <role> <name> <text>
    event <type> <data> <source role> <source name> <source text> <seconds since the press>
    timeout <what was still awaited>
    error <what went wrong>
The program is ended (SIGTERM) before the reader exits.
"""
import argparse
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# What a reader hears a live region by: objects added to it, text inserted, announcements; and
# a changed description or value, which a reader may speak again each time.
EVENTS = ('object:children-changed:add', 'object:text-changed:insert', 'object:announcement',
          'object:property-change:accessible-description',
          'object:property-change:accessible-value')


def clean(text):
    # Embedded-object characters stand for child objects; tabs and newlines would break lines.
    return (text or '').replace('\ufffc', '').replace('\t', ' ').replace('\n', ' ').strip()


def describe(node):
    try:
        role, name = node.getRoleName(), clean(node.name)
    except Exception:
        return '?', '', ''
    try:
        text = clean(node.queryText().getText(0, -1))
    except Exception:
        text = ''
    return role, name, text


def descendants(node, depth=0):
    if node is None or depth > 80:
        return
    yield node
    try:
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return
    for child in children:
        yield from descendants(child, depth + 1)


class Reader:
    def __init__(self, registry, args, program, out):
        self.registry = registry
        self.args = args
        self.program = program
        self.out = out
        self.deadline = time.monotonic() + args.timeout
        self.pressed = False
        self.pressed_at = 0.0

    def write(self, *fields):
        self.out.write('\t'.join(fields) + '\n')
        self.out.flush()

    def tree(self):
        nodes = []
        for app in self.registry.getDesktop(0):
            nodes.extend(descendants(app))
        return nodes

    def finish(self, awaited=None):
        if awaited is not None:
            self.write('timeout', awaited)
        self.registry.stop()
        return False

    def on_event(self, event):
        if not self.pressed:
            return
        data = event.any_data
        if hasattr(data, 'getRoleName'):
            data = ' '.join(describe(data)[1:])
        data = clean(data) if isinstance(data, str) else ''
        self.write('event', event.type, data, *describe(event.source),
                   '%.2f' % (time.monotonic() - self.pressed_at))
        if self.args.wait_for and self.args.wait_for in data:
            self.finish()

    def tick(self):
        # An exception would drop this timer and leave the loop waiting for ever.
        try:
            return self.step()
        except Exception as error:
            self.write('error', clean(repr(error)))
            return self.finish()

    def step(self):
        if time.monotonic() > self.deadline or self.program.poll() is not None:
            if not self.pressed:
                for node in self.tree():
                    self.write('node', *describe(node))
            return self.finish(self.args.wait_for if self.pressed else ', '.join(self.args.expect))
        if self.pressed:
            return True
        nodes = self.tree()
        described = [describe(node) for node in nodes]
        shown = ' '.join(name + ' ' + text for _, name, text in described)
        if not all(expected in shown for expected in self.args.expect):
            return True
        for fields in described:
            self.write('node', *fields)
        if not self.args.press:
            return self.finish()
        target = next((node for node, (_, name, _) in zip(nodes, described)
                       if name == self.args.press), None)
        if target is None:
            return self.finish('an object named ' + self.args.press)
        self.pressed = True
        self.pressed_at = time.monotonic()
        target.queryAction().doAction(0)
        return True


def end_with_reader():
    # Run in each child before it starts: a reader killed outright leaves nothing behind.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start_accessibility_bus(folder):
    """A bus daemon as the desktop's bus launcher starts one. Its address goes to everything
    through AT_SPI_BUS_ADDRESS, which is taken before any other: the program, this reader, and
    the registry daemon the bus starts when it is first asked for."""
    address = 'unix:path=' + os.path.join(folder, 'bus')
    os.environ['AT_SPI_BUS_ADDRESS'] = address
    daemon = subprocess.Popen(
        ['dbus-daemon', '--config-file=/usr/share/defaults/at-spi2/accessibility.conf',
         '--nofork', '--address=' + address, '--print-address'],
        stdout=subprocess.PIPE, preexec_fn=end_with_reader)
    if not daemon.stdout.readline():
        daemon.wait()
        sys.exit('no accessibility bus')
    return daemon


def end(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--out', required=True)
    parser.add_argument('--expect', action='append', default=[])
    parser.add_argument('--press')
    parser.add_argument('--await', dest='wait_for')
    parser.add_argument('--timeout', type=float, default=60)
    parser.add_argument('program', nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if args.program[:1] == ['--']:
        args.program = args.program[1:]
    if not args.program:
        parser.error('no program to start')

    folder = tempfile.mkdtemp(prefix='atspi-reader-')
    bus = start_accessibility_bus(folder)
    try:
        # Only now: the bindings connect to the bus named when they load.
        import pyatspi
        from gi.repository import GLib

        # GTK leaves its accessibility bridge out when this is set; a screen reader's user has not.
        env = dict(os.environ)
        env.pop('NO_AT_BRIDGE', None)
        program = subprocess.Popen(args.program, env=env, preexec_fn=end_with_reader)
        try:
            with open(args.out, 'w', encoding='utf-8') as out:
                reader = Reader(pyatspi.Registry, args, program, out)
                # Listening first: the web content registers its objects once someone listens.
                for event in EVENTS:
                    pyatspi.Registry.registerEventListener(reader.on_event, event)
                GLib.timeout_add(250, reader.tick)
                pyatspi.Registry.start()
        finally:
            end(program)
    finally:
        end(bus)
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
