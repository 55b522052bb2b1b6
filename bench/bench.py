#!/usr/bin/env python3
"""Keyloom against `xdotool type` on a private Xvfb, measured from the receiving side.

Both tools type the same texts, at the same delays, into the same focus-holding
recording client (x11_recorder), alternating run by run. The client reports each
key event with the X server's timestamp, so pace and latency come from the server's
clock, not from either tool. Keyloom is the real program, started as a user starts
it and driven by its shortcut through XTEST; xdotool is run as `xdotool type --delay N`.
Every text is also typed into the recorder's key-forwarding viewer mode (keymap read
before the run, never again), followed at once by a second, short run.

Prints Markdown tables; it asserts nothing. Run it through bench/run.
"""
import argparse
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

DELAYS = [5, 12, 30]

ASCII = ('Hello, World! The quick brown fox (#42) jumps over the lazy dog; "quotes" & <tags> '
         '{braces} [x|y] ~$5.00 @home ^_^ 100% +-=*/\\`\'?')
EUROPEAN = ('Grüße aus Köln! Ça va? Déjà vu, naïve façade; Øresund, Łódź, Škoda, Ærøskøbing, '
            'smörgåsbord, ¿Qué tal? ¡Sí! 25 € · ½ °C ß')
SCRIPTS = ('Καλημέρα κόσμε, Съешь же ещё этих мягких французских булок, '
           '日本語のテキスト、中文字符、한국어 문장')
EMOJI = ('👍🏽 👨\u200d👩\u200d👧\u200d👦 🇩🇪 🇯🇵 🇺🇦 ❤\ufe0f 🏳\ufe0f\u200d🌈 👩🏾\u200d💻 ✌\ufe0f '
         'e\u0301 a\u0308 ok')
TABS = 'Name:\tKeyloom\nLines:\t2\n\n\tindented line\nend\t!\n'
# Typed right after each text into the viewer: how soon a run follows the previous one.
SECOND_RUN = 'Next: ok!'


def long_text(n=2000):
    piece = ASCII + ' ' + EUROPEAN + ' ' + SCRIPTS + '\n'
    out = ''
    while len(out) < n:
        out += piece
    return out[:n]


def distinct_text(n):
    # Spaced-out CJK ideographs: none is on the keyboard, all differ.
    return ''.join(chr(0x4E00 + 7 * i) for i in range(n))


# Classes: name -> (text, single code point per character, so usable for pace)
def text_classes(spare):
    return [
        ('ASCII, shifted symbols', ASCII, True),
        ('European letters', EUROPEAN, True),
        ('Greek, Cyrillic, CJK, Hangul', SCRIPTS, True),
        ('Emoji clusters, flags, combining', EMOJI, False),
        ('Tab and newline', TABS, True),
        ('2,000 characters', long_text(), True),
        (f'{max(450, spare + 50)} distinct CJK (spare keys: {spare})', distinct_text(max(450, spare + 50)), True),
    ]


def expected(text):
    # The client sees Return for a line feed and reports it as a carriage return.
    return text.replace('\n', '\r')


# --- X11 through ctypes: key presses by XTEST, a close request to a window ---------------

class X:
    def __init__(self, display):
        self.x = ctypes.cdll.LoadLibrary('libX11.so.6')
        self.xt = ctypes.cdll.LoadLibrary('libXtst.so.6')
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XStringToKeysym.restype = ctypes.c_ulong
        self.x.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.x.XInternAtom.restype = ctypes.c_ulong
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        self.xt.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.d = self.x.XOpenDisplay(display.encode())
        if not self.d:
            raise SystemExit(f'cannot open display {display}')

    def keycode(self, name):
        return self.x.XKeysymToKeycode(self.d, self.x.XStringToKeysym(name.encode()))

    def key(self, code, down):
        self.xt.XTestFakeKeyEvent(self.d, code, 1 if down else 0, 0)

    def sync(self):
        self.x.XSync(self.d, 0)

    def close_window(self, window):
        class ClientMessage(ctypes.Structure):
            _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                        ('display', ctypes.c_void_p), ('window', ctypes.c_ulong),
                        ('message_type', ctypes.c_ulong), ('format', ctypes.c_int), ('data', ctypes.c_long * 5)]

        class Event(ctypes.Union):
            _fields_ = [('xclient', ClientMessage), ('pad', ctypes.c_long * 24)]
        ev = Event()
        ev.xclient.type = 33
        ev.xclient.window = window
        ev.xclient.message_type = self.x.XInternAtom(self.d, b'WM_PROTOCOLS', 0)
        ev.xclient.format = 32
        ev.xclient.data[0] = self.x.XInternAtom(self.d, b'WM_DELETE_WINDOW', 0)
        self.x.XSendEvent(self.d, window, 0, 0, ctypes.byref(ev))
        self.sync()


def mono_ms():
    return time.monotonic() * 1000.0


# --- The recording client ----------------------------------------------------------------

# Shift, Control, Alt, Super, ..., the ISO level and group shifts, Mode_switch.
MODIFIER_KEYSYMS = set(range(0xffe1, 0xffef)) | set(range(0xfe01, 0xfe14)) | {0xff7e}


def is_char(e):
    return e[0] == 'P' and e[2] and e[1] != 0xff1b


class Recorder:
    """x11_recorder in a process of its own; events as (kind, keysym, text, server_ms, keycode).

    Kinds: P press, R release, M a change of the core keymap."""

    def __init__(self, binary, display, forward=False):
        self.events = []
        self.ready = threading.Event()
        self.lock = threading.Lock()
        self.p = subprocess.Popen([binary, display] + (['--forward'] if forward else []),
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        threading.Thread(target=self._read, daemon=True).start()
        if not self.ready.wait(20):
            raise SystemExit('the recording client did not get the focus')

    def _read(self):
        for raw in self.p.stdout:
            f = raw.decode().split()
            if not f:
                continue
            if f[0] == 'READY':
                self.ready.set()
            elif f[0] == 'P' and len(f) >= 6:
                text = '' if f[4] == '-' else bytes.fromhex(f[4]).decode('utf-8', 'replace')
                with self.lock:
                    self.events.append(('P', int(f[3], 16), text, int(f[5]), int(f[1])))
            elif f[0] == 'R' and len(f) >= 3:
                with self.lock:
                    self.events.append(('R', 0, '', int(f[2]), int(f[1])))
            elif f[0] == 'M' and len(f) >= 2:
                with self.lock:
                    self.events.append(('M', 0, '', int(f[1]), 0))

    def snapshot(self):
        with self.lock:
            return list(self.events)

    def chars(self, start=0):
        return [e for e in self.snapshot()[start:] if is_char(e)]

    def latency(self, start=0):
        """Server ms from the last key release before the first character to that character."""
        events = self.snapshot()[start:]
        for i, e in enumerate(events):
            if is_char(e):
                releases = [r[3] for r in events[:i] if r[0] == 'R']
                return e[3] - max(releases) if releases else None
        return None

    def release_before_first_char(self, start=0):
        """Server ms of the last key release before the first character."""
        events = self.snapshot()[start:]
        for i, e in enumerate(events):
            if is_char(e):
                releases = [r[3] for r in events[:i] if r[0] == 'R']
                return max(releases) if releases else None
        return None

    def after_chord(self, start):
        """Index just past the two releases of the shortcut's keys that reach the client (its
        last key is grabbed) after start."""
        events = self.snapshot()
        releases = 0
        for i in range(start, len(events)):
            if events[i][0] == 'R':
                releases += 1
                if releases == 2:
                    return i + 1
        return len(events)

    def first_press(self, start=0):
        """Server ms of the first key press after start other than Esc."""
        for e in self.snapshot()[start:]:
            if e[0] == 'P' and e[1] != 0xff1b:
                return e[3]
        return None

    def key_presses(self, start=0):
        """Presses after start other than Esc and modifier keys: one per character typed."""
        return [e for e in self.snapshot()[start:]
                if e[0] == 'P' and e[1] != 0xff1b and e[1] not in MODIFIER_KEYSYMS]

    def last_press_time(self, start=0):
        presses = self.key_presses(start)
        return presses[-1][3] if presses else None

    def wait_presses(self, count, start, first_ms, quiet_ms, deadline_ms):
        """Until count presses came after start, or nothing new for quiet_ms, or the deadline."""
        t0 = mono_ms()
        last_n, last_change = 0, t0
        while True:
            now = mono_ms()
            n = len(self.key_presses(start))
            if n >= count:
                return
            if n != last_n:
                last_n, last_change = n, now
            if (last_n == 0 and now - t0 > first_ms) or (last_n and now - last_change > quiet_ms) \
                    or now - t0 > deadline_ms:
                return
            time.sleep(0.01)

    def keymap_changes(self, start=0):
        return sum(1 for e in self.snapshot()[start:] if e[0] == 'M')

    def text(self):
        return ''.join(e[2] for e in self.chars())

    def escapes(self):
        return sum(1 for e in self.snapshot() if e[0] == 'P' and e[1] == 0xff1b)

    def wait_for(self, want, first_ms, quiet_ms, deadline_ms):
        """Until the text is complete, or nothing new came for quiet_ms, or the deadline."""
        start = mono_ms()
        last_n, last_change = 0, start
        while True:
            now = mono_ms()
            got = self.text()
            if len(got) >= len(want):
                return got
            if len(got) != last_n:
                last_n, last_change = len(got), now
            if (last_n == 0 and now - start > first_ms) or (last_n and now - last_change > quiet_ms) \
                    or now - start > deadline_ms:
                return got
            time.sleep(0.01)

    def stop(self):
        self.p.kill()
        self.p.wait()


# --- The bench -----------------------------------------------------------------------------

class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.keyloom_bin = os.path.join(self.build, 'src/app/keyloom')
        self.recorder_bin = os.path.join(self.build, 'tests/x11/x11_recorder')
        self.scratch = tempfile.mkdtemp(prefix='keyloom-bench-')
        self.procs = []
        self.clip = None
        self.keyloom = None
        self.start_xvfb()
        self.env = dict(os.environ, DISPLAY=self.display, LC_ALL='C.UTF-8', QT_QPA_PLATFORM='xcb',
                        XDG_CONFIG_HOME=os.path.join(self.scratch, 'config'),
                        XDG_RUNTIME_DIR=os.path.join(self.scratch, 'run'), HOME=self.scratch)
        self.env.pop('QT_IM_MODULE', None)
        self.env.pop('DBUS_SESSION_BUS_ADDRESS', None)
        os.makedirs(self.env['XDG_RUNTIME_DIR'], mode=0o700)
        self.x = X(self.display)
        # Keys of the shortcut by position, taken once under the US layout.
        self.ctrl, self.sup = self.x.keycode('Control_L'), self.x.keycode('Super_L')
        self.semi, self.esc = self.x.keycode('semicolon'), self.x.keycode('Escape')
        self.start_tray()
        self.offset = self.calibrate()
        self.base_keymap = self.keymap()

    # Processes ---------------------------------------------------------------------------

    def start_xvfb(self):
        r, w = os.pipe()
        p = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-noreset', '-nolisten', 'tcp',
                              '-screen', '0', '1280x800x24'], pass_fds=(w,),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b''
        while not number.endswith(b'\n'):
            chunk = os.read(r, 16)
            if not chunk:
                raise SystemExit('Xvfb did not start')
            number += chunk
        os.close(r)
        self.procs.append(p)
        self.display = ':' + number.decode().strip()

    def start_tray(self):
        p = subprocess.Popen(['trayer', '--edge', 'top', '--align', 'right', '--widthtype', 'pixel',
                              '--width', '120', '--height', '32'], env=self.env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if subprocess.run(['xdotool', 'search', '--onlyvisible', '--class', 'trayer'], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                time.sleep(0.5)  # bench only: let it take the tray selection
                return
            time.sleep(0.1)
        raise SystemExit('the tray host did not start')

    def keymap(self):
        return subprocess.run(['xmodmap', '-pke'], env=self.env, capture_output=True).stdout

    def set_layout(self, layout):
        subprocess.run(['setxkbmap', '-layout', layout], env=self.env, check=True)
        self.base_keymap = self.keymap()

    def wait_clean(self, deadline_ms=5000):
        """Until the keymap is the layout's own again (Keyloom gives spare keycodes back up to
        a second after their last use), so that each run's keymap changes are its own and a
        viewer reads the keymap a user's viewer would have."""
        end = mono_ms() + deadline_ms
        while self.keymap() != self.base_keymap:
            if mono_ms() > end:
                print('  the keymap did not come back', file=sys.stderr)
                return False
            time.sleep(0.02)
        return True

    def calibrate(self):
        """Offset of the X server's millisecond clock from our monotonic clock."""
        rec = Recorder(self.recorder_bin, self.display)
        offsets = []
        for _ in range(10):
            n = len(rec.snapshot())
            t = mono_ms()
            self.x.key(self.ctrl, True)
            self.x.sync()
            t2 = mono_ms()
            while len(rec.snapshot()) == n:
                time.sleep(0.002)
            offsets.append(rec.snapshot()[n][3] - (t + t2) / 2)
            self.x.key(self.ctrl, False)
            self.x.sync()
            time.sleep(0.02)
        rec.stop()
        return statistics.median(offsets)

    def set_clipboard(self, text):
        self.stop_clipboard()
        data = text.encode()
        self.clip = subprocess.Popen(['xclip', '-quiet', '-selection', 'clipboard', '-i'], env=self.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.clip.stdin.write(data)
        self.clip.stdin.close()
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            out = subprocess.run(['xclip', '-o', '-selection', 'clipboard'], env=self.env,
                                 capture_output=True).stdout
            if out == data:
                return
            time.sleep(0.05)
        raise SystemExit('the clipboard was not set')

    def stop_clipboard(self):
        if self.clip:
            self.clip.kill()
            self.clip.wait()
            self.clip = None

    def start_keyloom(self, delay):
        """Starts the program; returns (ms until the shortcut is grabbed, ms until the first character)."""
        self.stop_keyloom()
        conf = os.path.join(self.env['XDG_CONFIG_HOME'], 'keyloom')
        shutil.rmtree(conf, ignore_errors=True)
        os.makedirs(conf)
        with open(os.path.join(conf, 'keyloom.conf'), 'w') as f:
            f.write(f'[General]\ntypingSpeedMs={delay}\ntypingMode=clipboard\n')
        self.set_clipboard('ok')
        rec = Recorder(self.recorder_bin, self.display)
        t0 = mono_ms()
        self.keyloom = subprocess.Popen([self.keyloom_bin], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Press the shortcut until one press is swallowed instead of reaching the client.
        grabbed = None
        while grabbed is None and mono_ms() - t0 < 30000:
            n = len(rec.snapshot())
            t = mono_ms()
            self.chord(rec, n)
            events = rec.snapshot()[n:]
            if not any(e[0] == 'P' and e[4] == self.semi for e in events):
                grabbed = t - t0
        deadline = mono_ms() + 15000
        while len(rec.chars(n)) < 2 and mono_ms() < deadline:
            time.sleep(0.005)
        first = rec.chars(n)
        typed = (first[0][3] - self.offset - t0) if ''.join(e[2] for e in first) == 'ok' else None
        self.wait_idle(rec)
        rec.stop()
        return grabbed, typed

    def chord(self, rec=None, n=0):
        """Ctrl+Super+; pressed and released in that order; waits until the client saw the last release."""
        for k in (self.ctrl, self.sup, self.semi):
            self.x.key(k, True)
        for k in (self.semi, self.sup, self.ctrl):
            self.x.key(k, False)
        self.x.sync()
        if rec is None:
            return
        deadline = mono_ms() + 10000
        while mono_ms() < deadline:
            releases = [e for e in rec.snapshot()[n:] if e[0] == 'R']
            if len(releases) >= 2:
                return
            time.sleep(0.002)

    def wait_idle(self, rec):
        """Esc until one reaches the client: the program takes Esc only during a run."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            before = rec.escapes()
            self.x.key(self.esc, True)
            self.x.key(self.esc, False)
            self.x.sync()
            probe = time.monotonic() + 1
            while time.monotonic() < probe:
                if rec.escapes() > before:
                    return True
                time.sleep(0.01)
        return False

    def stop_keyloom(self):
        if self.keyloom:
            self.keyloom.terminate()
            try:
                self.keyloom.wait(20)
            except subprocess.TimeoutExpired:
                self.keyloom.kill()
                self.keyloom.wait()
            self.keyloom = None

    # One run of each tool --------------------------------------------------------------------

    def wait_args(self, text, delay):
        n = len(text)
        return 20000, max(1500, 30 * delay), 30000 + n * delay * 4

    def run_keyloom(self, text, delay):
        self.set_clipboard(text)
        rec = Recorder(self.recorder_bin, self.display)
        n = len(rec.snapshot())
        self.chord(rec, n)
        got = rec.wait_for(expected(text), *self.wait_args(text, delay))
        self.wait_idle(rec)
        self.wait_clean()
        result = self.result(rec, text, delay, rec.release_before_first_char(n))
        if rec.latency(n) is not None:
            result['latency'] = rec.latency(n)
        rec.stop()
        del got
        return result

    def run_keyloom_viewer(self, text, second, delay):
        """The text into the key-forwarding viewer, then a second run as soon as the first ended."""
        self.wait_clean()
        self.set_clipboard(text)
        rec = Recorder(self.recorder_bin, self.display, forward=True)
        self.chord(rec, 0)
        a = rec.after_chord(0)
        # The run has read the clipboard once its first key went out: the next text can go there.
        deadline = mono_ms() + 20000
        while rec.first_press(a) is None and mono_ms() < deadline:
            time.sleep(0.005)
        self.set_clipboard(second)
        # The viewer shows no text for keys it cannot translate: count the keys instead.
        rec.wait_presses(len(text), a, *self.wait_args(text, delay))
        self.wait_idle(rec)
        end = rec.last_press_time(a)
        n = len(rec.snapshot())
        self.chord(rec, n)
        b = rec.after_chord(n)
        rec.wait_presses(len(second), b, *self.wait_args(second, delay))
        self.wait_idle(rec)
        chord_end = rec.snapshot()[b - 1] if b > n else None
        released = chord_end[3] if chord_end and chord_end[0] == 'R' else None
        first = rec.first_press(b)
        got = rec.text()
        self.wait_clean()
        rec.stop()
        return self.viewer_result(got, text + second,
                                  first - released if first is not None and released is not None else None,
                                  released - end if released is not None and end is not None else None)

    def xdotool(self, text, delay):
        return subprocess.Popen(['xdotool', 'type', '--delay', str(delay), '--', text], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @staticmethod
    def finish(p):
        try:
            p.wait(60)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()

    def run_xdotool(self, text, delay):
        rec = Recorder(self.recorder_bin, self.display)
        t0 = mono_ms()
        p = self.xdotool(text, delay)
        rec.wait_for(expected(text), *self.wait_args(text, delay))
        self.finish(p)
        self.wait_clean()
        result = self.result(rec, text, delay, t0 + self.offset)
        chars = rec.chars()
        if chars:
            result['latency'] = chars[0][3] - self.offset - t0
        rec.stop()
        return result

    def run_xdotool_viewer(self, text, second, delay):
        self.wait_clean()
        rec = Recorder(self.recorder_bin, self.display, forward=True)
        p = self.xdotool(text, delay)
        rec.wait_presses(len(text), 0, *self.wait_args(text, delay))
        self.finish(p)
        end = rec.last_press_time(0)
        n = len(rec.snapshot())
        t1 = mono_ms()
        p = self.xdotool(second, delay)
        rec.wait_presses(len(second), n, *self.wait_args(second, delay))
        self.finish(p)
        first = rec.first_press(n)
        started = t1 + self.offset
        got = rec.text()
        self.wait_clean()
        rec.stop()
        return self.viewer_result(got, text + second, first - started if first is not None else None,
                                  started - end if end is not None else None)

    @staticmethod
    def viewer_result(got, text, start, gap):
        res = {'exact': got == expected(text), 'start': start, 'gap': gap}
        if not res['exact']:
            res['diff'] = diff(got, expected(text))
        return res

    def result(self, rec, text, delay, start=None):
        chars = rec.chars()
        got = ''.join(e[2] for e in chars)
        times = [e[3] for e in chars]
        gaps = [b - a for a, b in zip(times, times[1:])]
        res = {'exact': got == expected(text), 'gaps': gaps, 'delay': delay, 'chars': len(text),
               'keymap_changes': rec.keymap_changes()}
        if len(times) > 1:
            res['span_ratio'] = (times[-1] - times[0]) / ((len(times) - 1) * delay)
        if times and start is not None:
            res['wall_ratio'] = (times[-1] - start) / (len(text) * delay)
        if got != expected(text):
            res['diff'] = diff(got, expected(text))
        return res

    # Resources ---------------------------------------------------------------------------

    def proc(self, pid):
        with open(f'/proc/{pid}/stat') as f:
            fields = f.read().rsplit(')', 1)[1].split()
        tick = os.sysconf('SC_CLK_TCK')
        cpu_ms = (int(fields[11]) + int(fields[12])) * 1000 / tick
        threads = {}
        for tid in os.listdir(f'/proc/{pid}/task'):
            try:
                with open(f'/proc/{pid}/task/{tid}/comm') as f:
                    name = f.read().strip()
                with open(f'/proc/{pid}/task/{tid}/status') as f:
                    st = dict(line.split(':', 1) for line in f if ':' in line)
                threads[tid] = (name, int(st['voluntary_ctxt_switches']), int(st['nonvoluntary_ctxt_switches']))
            except FileNotFoundError:
                pass
        return cpu_ms, threads

    def rss(self, pid, key='VmRSS'):
        with open(f'/proc/{pid}/status') as f:
            for line in f:
                if line.startswith(key + ':'):
                    return int(line.split()[1])
        return 0

    def settings_window(self):
        out = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^Keyloom Settings$'],
                             env=self.env, capture_output=True, text=True).stdout.split()
        return int(out[0]) if out else None


def diff(got, want):
    i = 0
    while i < min(len(got), len(want)) and got[i] == want[i]:
        i += 1
    return f'at {i}/{len(want)} got {got[i:i + 8]!r} want {want[i:i + 8]!r} (len {len(got)})'


def pct(values, p):
    if not values:
        return float('nan')
    s = sorted(values)
    return s[min(len(s) - 1, int(round(p / 100 * (len(s) - 1))))]


def fmt(v, style='.1f'):
    return '–' if v is None or v != v else format(v, style)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build', required=True)
    ap.add_argument('--reps', type=int, default=3)
    ap.add_argument('--idle', type=int, default=60, help='seconds of idle measurement')
    ap.add_argument('--quick', action='store_true', help='one repetition, short idle, for trying the script')
    args = ap.parse_args()
    if args.quick:
        args.reps, args.idle = 1, 5
    b = Bench(args)
    out = []

    def say(line=''):
        print(line, flush=True)
        out.append(line)

    try:
        spare = sum(1 for line in subprocess.run(['xmodmap', '-pke'], env=b.env, capture_output=True,
                                                 text=True).stdout.splitlines() if len(line.split()) == 3)
        classes = text_classes(spare)
        load0 = os.getloadavg()
        print(f'display {b.display}, X clock offset {b.offset:.1f} ms, {spare} spare keycodes', file=sys.stderr)
        results = {}   # (tool, class, delay) -> [result]
        startups = []  # (grabbed, first character)
        fails = []

        def reps_for(text, delay):
            # Long runs once: the 2,000-character text alone takes a minute at 30 ms.
            return 1 if len(text) * delay > 5000 else args.reps

        viewer = {}    # (tool, class, delay) -> [viewer result]

        def run_pair(name, text, delay, rep, layout=''):
            order = [('keyloom', b.run_keyloom, b.run_keyloom_viewer),
                     ('xdotool', b.run_xdotool, b.run_xdotool_viewer)]
            if rep % 2:
                order.reverse()
            for tool, fn, viewer_fn in order:
                r = fn(text, delay)
                results.setdefault((tool, name + layout, delay), []).append(r)
                if not r['exact']:
                    fails.append(f'{tool} {name}{layout} {delay} ms: {r["diff"]}')
                v = viewer_fn(text, SECOND_RUN, delay)
                viewer.setdefault((tool, name + layout, delay), []).append(v)
                if not v['exact']:
                    fails.append(f'{tool} {name}{layout} {delay} ms, viewer: {v["diff"]}')
                print(f'  {tool:8} {name}{layout} {delay} ms rep {rep}: exact={r["exact"]} '
                      f'viewer={v["exact"]} latency={r.get("latency")} back-to-back={v["start"]}',
                      file=sys.stderr)

        for delay in DELAYS:
            startups.append(b.start_keyloom(delay))
            for rep in range(args.reps):
                for name, text, _ in classes:
                    if rep < reps_for(text, delay):
                        run_pair(name, text, delay, rep)

        # A non-US layout: the shortcut key keeps its position, the texts need other keys.
        b.set_layout('de')
        startups.append(b.start_keyloom(12))
        for rep in range(args.reps):
            for name, text, _ in classes[:3] + classes[4:5]:
                run_pair(name, text, 12, rep, ' (de layout)')
        b.set_layout('us')

        # Resources of an idle program.
        startups.append(b.start_keyloom(5))
        pid = b.keyloom.pid
        time.sleep(3)  # bench only: let start-up work settle
        cpu0, th0 = b.proc(pid)
        time.sleep(args.idle)
        cpu1, th1 = b.proc(pid)
        rss_idle = b.rss(pid)
        wakeups = []
        for tid, (name, vol, inv) in th1.items():
            v0, i0 = th0.get(tid, (name, 0, 0))[1:]
            if vol - v0 or inv - i0:
                wakeups.append((name, tid, vol - v0, inv - i0))

        # Settings window opened (by a second start, as the desktop entry does) and closed.
        subprocess.run([b.keyloom_bin], env=b.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        deadline = time.monotonic() + 20
        while b.settings_window() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(2)
        rss_open = b.rss(pid)
        window = b.settings_window()
        if window:
            b.x.close_window(window)
        time.sleep(3)
        rss_closed = b.rss(pid)

        # First-character latency of a run that does not follow another one closely: the
        # back-to-back runs above may wait for spare keycodes still in their grace period.
        rested = {'ASCII "hello, world"': [], 'rare letters "Grüße, café ½"': []}
        for _ in range(args.reps + 2):
            for name, text in zip(rested, ['hello, world', 'Grüße, café ½']):
                time.sleep(1.5)  # bench only: longer than the spare keys' grace period
                rested[name].append(b.run_keyloom(text, 5).get('latency'))

        # A 10 MB clipboard: how soon the run starts, how much memory it takes, then Esc.
        big = ('0123456789 abcdefghijklmnopqrstuvwxyz ' * 300000)[:10_000_000]
        b.set_clipboard(big)
        rss_before_big = b.rss(pid)
        rec = Recorder(b.recorder_bin, b.display)
        n = len(rec.snapshot())
        time.sleep(1.5)  # bench only: past the grace period of the spare keys used just before
        b.chord(rec, n)
        t_chord = mono_ms()
        while not rec.chars() and mono_ms() - t_chord < 60000:
            time.sleep(0.005)
        big_latency = rec.latency(n)
        peak = 0
        t_end = mono_ms() + 3000
        while mono_ms() < t_end:
            peak = max(peak, b.rss(pid))
            time.sleep(0.05)
        typed_before_esc = len(rec.text())
        t_esc = mono_ms()
        b.x.key(b.esc, True)
        b.x.key(b.esc, False)
        b.x.sync()
        time.sleep(1)
        after_esc = len(rec.text())
        b.wait_idle(rec)
        del t_esc
        rec.stop()
        b.stop_clipboard()
        time.sleep(2)
        rss_after_big = b.rss(pid)
        b.stop_keyloom()
        load1 = os.getloadavg()

        # Report ------------------------------------------------------------------------------
        size = os.path.getsize(b.keyloom_bin)
        stripped = os.path.join(b.scratch, 'keyloom.stripped')
        subprocess.run(['strip', '-o', stripped, b.keyloom_bin], check=True)
        rev = subprocess.run(['git', 'describe', '--always', '--dirty'], capture_output=True, text=True).stdout.strip()
        dirty = subprocess.run(['git', 'status', '--short', '--untracked-files=no', 'src'], capture_output=True,
                               text=True).stdout.split()
        say(f'Source: commit {rev}' + (f' with uncommitted changes in {", ".join(dirty[1::2])}' if dirty else '') + '.')
        say(f'Load average at start {load0[0]:.2f}, at end {load1[0]:.2f}; '
            f'{args.reps} repetitions (long runs once), X clock offset {b.offset:.1f} ms.')
        say()
        say('### Fidelity: runs that arrived exactly')
        say()
        names = [c[0] for c in classes] + [c[0] + ' (de layout)' for c in classes[:3] + classes[4:5]]
        say('| Text | ' + ' | '.join(f'{d} ms Keyloom | {d} ms xdotool' for d in DELAYS) + ' |')
        say('|---|' + '---|' * (2 * len(DELAYS)))
        for name in names:
            cells = []
            for d in DELAYS:
                for tool in ('keyloom', 'xdotool'):
                    rs = results.get((tool, name, d))
                    cells.append(f'{sum(r["exact"] for r in rs)}/{len(rs)}' if rs else '–')
            say(f'| {name} | ' + ' | '.join(cells) + ' |')
        say()
        say('### Side by side, per text class and delay: K = Keyloom, x = xdotool')
        say()
        say('Exact: runs that arrived exactly into the recorder, and into the key-forwarding viewer '
            '(which read the keymap before the run and never again, and sees only key codes and the '
            f'modifier keys pressed around them; each viewer run is followed at once by a second run, '
            f'"{SECOND_RUN}", and counts only if both arrived). Wall/ideal: from the shortcut\'s '
            'release (xdotool: its start) to the last character, over characters × delay, median. '
            'Keymap changes: XkbMapNotify of the core keyboard per 1,000 characters, up to the '
            'keymap being back as it was. Error p95: |interval − delay|. Back-to-back: from the '
            'release of the shortcut of the second run (xdotool: the start of the second process) '
            'to its first key press, p50 / max.')
        say()
        say('| Delay | Text | exact K | exact x | viewer K | viewer x | wall/ideal K | wall/ideal x '
            '| keymap changes K | keymap changes x | error p95 K | error p95 x | back-to-back K | back-to-back x |')
        say('|---|---|---|---|---|---|---|---|---|---|---|---|---|---|')
        single = {c[0] for c in classes if c[2]}

        def side(tool, d, name):
            rs = results.get((tool, name, d), [])
            vs = viewer.get((tool, name, d), [])
            base = name.replace(' (de layout)', '')
            walls = [r['wall_ratio'] for r in rs if 'wall_ratio' in r] if base in single else []
            chars = sum(r['chars'] for r in rs)
            errs = [abs(g - d) for r in rs for g in r['gaps']] if base in single else []
            starts = [v['start'] for v in vs if v['start'] is not None]
            return [f'{sum(r["exact"] for r in rs)}/{len(rs)}' if rs else '–',
                    f'{sum(v["exact"] for v in vs)}/{len(vs)}' if vs else '–',
                    fmt(statistics.median(walls) if walls else None, '.2f'),
                    fmt(1000 * sum(r['keymap_changes'] for r in rs) / chars if chars else None, '.0f'),
                    fmt(pct(errs, 95) if errs else None, '.0f'),
                    f'{fmt(pct(starts, 50), ".0f")} / {fmt(max(starts), ".0f")}' if starts else '–']

        for d in DELAYS:
            for name in names:
                if (('keyloom', name, d)) not in results:
                    continue
                k, x = side('keyloom', d, name), side('xdotool', d, name)
                say(f'| {d} | {name} | ' + ' | '.join(f'{a} | {b}' for a, b in zip(k, x)) + ' |')
        gaps = [v['gap'] for vs in viewer.values() for v in vs if v['gap'] is not None]
        say()
        say(f'The second runs started {fmt(pct(gaps, 50), ".0f")} ms (median; max '
            f'{fmt(max(gaps, default=None), ".0f")} ms) after the last character of the first.')
        say()
        say('### Pace: intervals between consecutive characters (X server time, ms)')
        say()
        say('Error = |interval − delay|; jitter = |interval − the run\'s own median interval|. '
            'Texts with one code point per character only.')
        say()
        say('| Delay | Text | span/ideal K | span/ideal x | error p50 K | error p50 x | error p95 K | error p95 x '
            '| jitter p95 K | jitter p95 x | max error K | max error x |')
        say('|---|---|---|---|---|---|---|---|---|---|---|---|')
        pace_names = [c[0] for c in classes if c[2]]

        def pace(tool, d, names):
            errs, jit, spans = [], [], []
            for (t, name, dd), rs in results.items():
                if t == tool and dd == d and name in names:
                    for r in rs:
                        errs += [abs(g - d) for g in r['gaps']]
                        if r['gaps']:
                            m = statistics.median(r['gaps'])
                            jit += [abs(g - m) for g in r['gaps']]
                        if 'span_ratio' in r:
                            spans.append(r['span_ratio'])
            return (statistics.median(spans) if spans else None, pct(errs, 50), pct(errs, 95), pct(jit, 95),
                    max(errs, default=None))

        for d in DELAYS:
            for label, names in [(n, [n]) for n in pace_names] + [('**all of these**', pace_names)]:
                k, x = pace('keyloom', d, names), pace('xdotool', d, names)
                say(f'| {d} | {label} | {fmt(k[0], ".2f")} | {fmt(x[0], ".2f")} | {fmt(k[1], ".0f")} | '
                    f'{fmt(x[1], ".0f")} | {fmt(k[2], ".0f")} | {fmt(x[2], ".0f")} | {fmt(k[3], ".0f")} | '
                    f'{fmt(x[3], ".0f")} | {fmt(k[4], ".0f")} | {fmt(x[4], ".0f")} |')
        say()
        say('Keyloom/xdotool ratios over all these texts (span/ideal; error p50; error p95):')
        say()
        for d in DELAYS:
            k, x = pace('keyloom', d, pace_names), pace('xdotool', d, pace_names)
            r = [a / c if a is not None and c else float('nan') for a, c in zip(k[:3], x[:3])]
            say(f'- {d} ms: {fmt(r[0], ".2f")}; {fmt(r[1], ".2f")}; {fmt(r[2], ".2f")}')
        say()
        say('### Latency to the first character (ms)')
        say()
        say('Keyloom: from the release of the last shortcut key (X server time). xdotool: from the start '
            'of the `xdotool type` process (our clock mapped onto the server\'s).')
        say()
        say('| Text | Keyloom runs | Keyloom p50 | Keyloom max | xdotool p50 | xdotool max |')
        say('|---|---|---|---|---|---|')
        for name in names + ['**all**']:
            lat = {t: [r['latency'] for (tt, nn, _), rs in results.items()
                       if tt == t and (nn == name or name == '**all**') for r in rs if 'latency' in r]
                   for t in ('keyloom', 'xdotool')}
            say(f'| {name} | {len(lat["keyloom"])} | {fmt(pct(lat["keyloom"], 50), ".0f")} | '
                f'{fmt(max(lat["keyloom"], default=None), ".0f")} | {fmt(pct(lat["xdotool"], 50), ".0f")} | '
                f'{fmt(max(lat["xdotool"], default=None), ".0f")} |')
        say()
        say('Keyloom after a rest of 1.5 s (longer than the spare keys\' one-second grace period), '
            'no other tool in between:')
        say()
        say('| Text | runs | p50 ms | max ms |')
        say('|---|---|---|---|')
        for name, values in rested.items():
            v = [x for x in values if x is not None]
            say(f'| {name} | {len(v)} | {fmt(pct(v, 50), ".0f")} | {fmt(max(v, default=None), ".0f")} |')
        say()
        say('### Start-up and size')
        say()
        grabs = [s[0] for s in startups if s[0] is not None]
        firsts = [s[1] for s in startups if s[1] is not None]
        say('| Figure | Value |')
        say('|---|---|')
        say(f'| process start → shortcut swallowed (median of {len(grabs)}; each: '
            f'{", ".join(fmt(g, ".0f") for g in grabs)}) | {fmt(statistics.median(grabs) if grabs else None, ".0f")} ms |')
        say(f'| process start → first character of that press (median) | '
            f'{fmt(statistics.median(firsts) if firsts else None, ".0f")} ms |')
        say(f'| binary `keyloom` (RelWithDebInfo, as built) | {size / 1024:.0f} KiB |')
        say(f'| binary `keyloom`, stripped | {os.path.getsize(stripped) / 1024:.0f} KiB |')
        say()
        say(f'### Resources ({args.idle} s idle, then the settings window, then a 10 MB clipboard)')
        say()
        say('| Figure | Value |')
        say('|---|---|')
        say(f'| CPU time over {args.idle} s idle | {cpu1 - cpu0:.0f} ms |')
        total_v = sum(w[2] for w in wakeups)
        total_i = sum(w[3] for w in wakeups)
        say(f'| context switches over {args.idle} s idle (voluntary + involuntary, all threads) | '
            f'{total_v} + {total_i} |')
        for name, tid, v, i in sorted(wakeups, key=lambda w: -w[2]):
            say(f'| … thread `{name}` ({tid}) | {v} + {i} |')
        say(f'| resident memory idle (VmRSS) | {rss_idle / 1024:.1f} MiB |')
        say(f'| … settings window open | {rss_open / 1024:.1f} MiB |')
        say(f'| … settings window closed again | {rss_closed / 1024:.1f} MiB |')
        say(f'| 10 MB clipboard: release → first character | {fmt(big_latency, ".0f")} ms |')
        say(f'| … VmRSS before / peak while typing / after Esc | {rss_before_big / 1024:.1f} / '
            f'{peak / 1024:.1f} / {rss_after_big / 1024:.1f} MiB |')
        say(f'| … peak growth against twice the text (20 MB) | {(peak - rss_before_big) / 1024:.1f} MiB '
            f'= {(peak - rss_before_big) * 1024 / 20e6 * 100:.0f} % |')
        say(f'| … characters typed in 3 s, then more within 1 s after Esc | {typed_before_esc}, '
            f'{after_esc - typed_before_esc} |')
        if fails:
            say()
            say('### Runs that did not arrive exactly')
            say()
            for f in fails:
                say(f'- {f}')
        with open(os.path.join(b.build, 'bench-results.md'), 'w') as f:
            f.write('\n'.join(out) + '\n')
    finally:
        b.stop_keyloom()
        b.stop_clipboard()
        for p in reversed(b.procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(b.scratch, ignore_errors=True)


if __name__ == '__main__':
    main()
