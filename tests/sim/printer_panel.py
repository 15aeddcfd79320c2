"""tellumo-printer's control socket, for the test scripts: a command and its
answer line (ask), the state as JSON (state), a wait on a condition (until),
and the events file once saved (events, from $FOLDER/events.jsonl). The
socket is $CONTROL unless one is given."""
import json
import os
import socket
import time


def ask(command, control=None):
    s = socket.socket(socket.AF_UNIX)
    s.connect(control or os.environ['CONTROL'])
    s.sendall(command.encode() + b'\n')
    s.shutdown(socket.SHUT_WR)
    answer = s.makefile().readline().strip()
    s.close()
    return answer


def state():
    return json.loads(ask('state'))


def until(check, seconds=1.0):
    end = time.monotonic() + seconds
    while not check():
        if time.monotonic() > end:
            return False
        time.sleep(0.01)
    return True


def events():
    saved = ask('save')
    assert saved == 'ok', saved
    return open(os.environ['FOLDER'] + '/events.jsonl').read()
