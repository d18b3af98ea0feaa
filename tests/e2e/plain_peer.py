#!/usr/bin/python3
"""A peer that speaks only the designed link exchange, for the end-to-end tests.

Written from the description of the exchange alone (framed lines, the server's line assembly, the
commands and their replies, the client's reply watching and command trials, the waits between the
steps), with Debian's python3-xmodem for the transfers. It shares no code with Marrowline, so a
session with it shows what a peer that knows nothing of Marrowline's extensions sees.

    plain_peer.py server DEVICE --users NAME:PASSWORD,... --inbox DIR --outbox DIR --log FILE
    plain_peer.py client DEVICE --user NAME --password PW --put FILE... --inbox DIR --log FILE

The server answers on DEVICE until it is stopped, serving every file of --outbox to every user
(each file once). The client runs one session (log on, send each --put file, fetch every listed
file) and exits with 0 when every file went through. Both append one line per event to --log:
"<seconds> RX <text>" for a framed line received (checksum good), "<seconds> TX <text>" for one
sent, "<seconds> BAD <bytes>" for a line whose checksum failed, "<seconds> IGNORED <text>" for a
line the server did not understand, "<seconds> XFER <what> <result>" for each transfer, and
"<seconds> STRAY <bytes>" for bytes a client received that are no reply of the exchange.
"""
import argparse
import os
import select
import sys
import termios
import time
import tty

import xmodem

CR = b'\r'
REPLIES = [b'YES', b'NO', b'OK', b'FAIL']


def checksum(text):
    return b'%02X' % (sum(text) % 256)


def frame(text):
    return CR + text + checksum(text) + CR


def checksum_ok(line):
    return len(line) >= 2 and line[-2:] == checksum(line[:-2])


def trim(line):
    return line.strip(bytes(range(0, 33)))


class Line:
    """One end of a serial line, raw, with a log."""

    def __init__(self, device, log):
        self.fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        self.start = time.monotonic()
        self.pending = b''  # received by getc beyond what it was asked for
        self.log_file = open(log, 'a', buffering=1)

    def log(self, what, text=b''):
        if isinstance(text, bytes):
            text = text.decode('latin-1')
        self.log_file.write('%.3f %s %s\n' % (time.monotonic() - self.start, what, text))

    def read(self, timeout):
        """One receive block, or b'' after `timeout` seconds."""
        if not select.select([self.fd], [], [], max(0, timeout))[0]:
            return b''
        try:
            return os.read(self.fd, 4096)
        except OSError:
            return b''

    def write(self, data):
        view = memoryview(data)
        while view:
            select.select([], [self.fd], [])
            view = view[os.write(self.fd, view):]

    def drain(self):
        termios.tcdrain(self.fd)

    def getc(self, size, timeout=1):
        """Exactly `size` bytes (fewer, or None, when `timeout` seconds pass first); what came
        beyond them waits for the next call."""
        end = time.monotonic() + timeout
        while len(self.pending) < size:
            block = self.read(end - time.monotonic())
            if not block:
                break
            self.pending += block
        data, self.pending = self.pending[:size], self.pending[size:]
        return data or None

    def putc(self, data, timeout=1):
        self.write(data)
        return len(data)

    def transfer(self, send, path, size=None):
        """XMODEM-1K with the library; a received file is cut to `size`. True when it went well."""
        self.pending = b''
        modem = xmodem.XMODEM(self.getc, self.putc, mode='xmodem1k')
        if send:
            with open(path, 'rb') as stream:
                ok = bool(modem.send(stream, retry=10, timeout=10, quiet=True))
        else:
            with open(path, 'wb') as stream:
                got = modem.recv(stream, crc_mode=1, retry=10, timeout=3, quiet=1)
            ok = got is not None
            if ok and size is not None:
                if os.path.getsize(path) < size:
                    ok = False
                else:
                    os.truncate(path, size)
        self.log('XFER', '%s %s %s' % ('send' if send else 'receive', os.path.basename(path),
                                       'ok' if ok else 'failed'))
        return ok


# -------------------------------------------------------------------------------------------------
# The server

class Server:
    def __init__(self, line, users, inbox, outbox, delay_ms):
        self.line = line
        self.users = users
        self.inbox = inbox
        self.outbox = outbox
        self.delay = delay_ms / 1000.0
        self.served = set()
        self.partial = b''
        self.user = None
        self.step = 'wait'  # wait, file, dir
        self.result = 0

    def reply(self, text):
        self.partial = b''
        self.line.log('TX', text)
        self.line.write(frame(text))
        self.line.drain()

    def waiting_files(self):
        names = sorted(n for n in os.listdir(self.outbox)
                       if os.path.isfile(os.path.join(self.outbox, n)) and n != 'DIR.LST')
        return [n for n in names if n not in self.served]

    def run(self):
        while True:
            block = self.line.read(1.0)
            if not block:
                continue
            completed = []
            for byte in block:
                c = bytes([byte])
                if c == b'\n':
                    continue
                if c == CR:
                    completed.append(trim(self.partial))
                    self.partial = b''
                else:
                    self.partial += c
            # Only the last line completed in a receive block is examined.
            if completed:
                self.examine(completed[-1])

    def examine(self, line):
        if not line:
            return
        if not checksum_ok(line):
            self.line.log('BAD', line)
            return
        text = line[:-2]
        self.line.log('RX', text)
        in_session = self.step in ('file', 'dir')
        if text.startswith(b'LOGON '):
            rest = trim(text[6:])
            name, _, password = rest.partition(b' ')
            password = trim(password)
            if password and self.users.get(name.decode('latin-1')) == password.decode('latin-1'):
                self.user = name
                self.step = 'file'
                self.reply(b'YES')
            else:
                self.reply(b'NO')
        elif text.startswith(b'GET ') or text.startswith(b'CHKCRC '):
            if not in_session:
                return
            self.step = 'file'
            name = trim(text[text.find(b'"') + 1:].rstrip(b'"')).decode('utf-8')
            path = os.path.join(self.outbox, name)
            if text.startswith(b'CHKCRC ') or name not in self.waiting_files():
                self.reply(b'NO')
                return
            self.reply(b'YES')
            if self.line.transfer(True, path):
                self.served.add(name)
        elif text.startswith(b'PUT '):
            if not in_session:
                return
            self.step = 'file'
            rest = text[text.find(b'"') + 1:] if b'"' in text else b''
            close = rest.find(b'"')
            name, size = trim(rest[:close]), trim(rest[close + 1:])
            if close <= 0 or not name or not size.isdigit() or b'\\' in name or b'/' in name:
                self.reply(b'NO')
                return
            self.reply(b'YES')
            # WaitFor half the delay (over once the reply has left), then Delay the other half.
            time.sleep(self.delay / 2)
            path = os.path.join(self.inbox, name.decode('utf-8'))
            ok = self.line.transfer(False, path + '.part', int(size))
            if ok:
                os.replace(path + '.part', path)
            elif os.path.exists(path + '.part'):
                os.remove(path + '.part')
            self.result = 0 if ok else -1
        elif text.startswith(b'DIR'):
            if not in_session:
                return
            self.step = 'dir'
            files = self.waiting_files()
            if not files:
                self.reply(b'NO')
                return
            if b'/B' in text:
                for name in files:
                    self.reply(b'"' + name.encode('utf-8') + b'"')
                self.reply(b'')
                return
            listing = os.path.join(self.outbox, 'DIR.LST')
            with open(listing, 'wb') as out:
                for name in files:
                    size = os.path.getsize(os.path.join(self.outbox, name))
                    out.write(b'"%s",%d,""\r\n' % (name.encode('utf-8'), size))
                out.write(b'<EOF>\r\n')
            self.reply(b'YES')
            self.line.transfer(True, listing)
            os.remove(listing)
        elif text.startswith(b'RESULT'):
            if self.step != 'file':
                return
            self.reply(b'OK' if self.result == 0 else b'FAIL')
        elif text.startswith(b'LOGOFF'):
            self.step = 'wait'
            self.user = None
        else:
            self.line.log('IGNORED', text)


# -------------------------------------------------------------------------------------------------
# The client

class Client:
    def __init__(self, line, args):
        self.line = line
        self.args = args
        self.delay = args.delay / 1000.0
        self.stream = b''

    def watch(self, timeout):
        """The index of the first reply word in what arrives within `timeout`, or None. The rest
        of the reply's frame is read too, so that it is not taken for a transfer's bytes."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            block = self.line.read(end - time.monotonic())
            if not block:
                continue
            self.stream += block
            upper = self.stream.upper()
            found = [(upper.find(word), i) for i, word in enumerate(REPLIES) if word in upper]
            if not found:
                continue
            at, index = min(found)
            # The frame's checksum and closing CR.
            while self.stream.count(CR, at) < 1 and time.monotonic() < end:
                self.stream += self.line.read(0.5) or b''
            self.check_frames(self.stream)
            self.stream = b''
            return index
        self.check_frames(self.stream)
        self.stream = b''
        return None

    def check_frames(self, received):
        """Logs each framed line received; anything else is stray."""
        for piece in received.split(CR):
            piece = trim(piece)
            if not piece:
                continue
            if checksum_ok(piece) and piece[:-2].upper() in REPLIES:
                self.line.log('RX', piece[:-2])
            else:
                self.line.log('STRAY', piece)

    def command(self, text):
        """The designed trial: sent after 100 ms, then again every repeat, three times."""
        time.sleep(0.1)
        for attempt in range(3):
            self.line.log('TX', text)
            self.stream = b''
            self.line.write(frame(text))
            index = self.watch(self.args.repeat / 1000.0)
            if index is not None:
                return index
        return None

    def run(self):
        if self.command(b'LOGON %s %s' % (self.args.user.encode(), self.args.password.encode())) != 0:
            return 2
        self.line.drain()
        failures = 0
        for path in self.args.put:
            size = os.path.getsize(path)
            name = os.path.basename(path).encode('utf-8')
            if self.command(b'PUT "%s" %d' % (name, size)) != 0:
                failures += 1
                continue
            time.sleep(self.delay / 20)
            sent = self.line.transfer(True, path)
            if not sent or self.command(b'RESULT') != 2:
                failures += 1
            self.line.drain()
        while True:
            index = self.command(b'DIR')
            if index != 0:
                break
            time.sleep(2 * self.delay)
            listing = os.path.join(self.args.inbox, 'DIR.LST')
            if not self.line.transfer(False, listing):
                failures += 1
                break
            with open(listing, 'rb') as f:
                lines = f.read().rstrip(b'\x00\x1a').split(b'\r\n')
            os.remove(listing)
            if lines and lines[-1] == b'':
                lines.pop()
            if not lines or lines[-1] != b'<EOF>':
                break
            for entry in lines[:-1]:
                quoted, _, rest = entry[1:].partition(b'",')
                size = int(rest.split(b',')[0])
                if self.command(b'GET "' + quoted + b'"') != 0:
                    failures += 1
                    continue
                time.sleep(2 * self.delay)
                if not self.line.transfer(False, os.path.join(self.args.inbox,
                                                              quoted.decode('utf-8')), size):
                    failures += 1
        self.line.log('END', 'failures %d' % failures)
        return 0 if failures == 0 else 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('role', choices=['server', 'client'])
    parser.add_argument('device')
    parser.add_argument('--log', required=True)
    parser.add_argument('--inbox', default='.')
    parser.add_argument('--outbox', default='.')
    parser.add_argument('--users', default='')
    parser.add_argument('--user', default='')
    parser.add_argument('--password', default='')
    parser.add_argument('--put', nargs='*', default=[])
    parser.add_argument('--delay', type=int, default=100, help='the device delay in ms')
    parser.add_argument('--repeat', type=int, default=18000, help='trial repeat in ms')
    args = parser.parse_args()
    line = Line(args.device, args.log)
    line.log('START', args.role)
    if args.role == 'server':
        users = dict(u.split(':', 1) for u in args.users.split(',') if u)
        Server(line, users, args.inbox, args.outbox, args.delay).run()
        return 0
    return Client(line, args).run()


if __name__ == '__main__':
    sys.exit(main())
