# tellumo-printer's web page in a real browser (Debian's chromium-headless-shell,
# driven over the DevTools protocol) beside a pyserial client on its --rfc2217
# port: a receipt printed after the page loaded shows within 1 s, a click on
# "Sem papel" turns CTS off within 1 s, one on "Destacar o papel" lists the
# receipt, and what is refused is refused.
# Leaves in FOLDER the page's pictures of the paper as the browser decoded them
# (web-N.png), the --png pages saved then (saved-receipt*.png), its screenshot
# and where the paper is in it, for the caller to compare. Exits 77 when
# there is no browser.
import base64, json, os, shutil, socket, subprocess, sys, tempfile, time
import urllib.error, urllib.request

import printer_panel
import serial
import websocket

BROWSER = '/usr/bin/chromium-headless-shell'
HTTP, RFC2217, FOLDER = os.environ['HTTP'], os.environ['RFC2217'], os.environ['FOLDER']
CONTROL = os.path.join(FOLDER, 'control')
BASE = 'http://' + HTTP


def until(check, seconds):
    end = time.monotonic() + seconds
    while not check():
        if time.monotonic() > end:
            return False
        time.sleep(0.01)
    return True


class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix='tellumo-web-test-')
        self.process = subprocess.Popen(
            [BROWSER, '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
             '--disable-background-networking', '--disable-component-update', '--disable-sync',
             '--remote-debugging-port=0', '--user-data-dir=' + self.profile,
             '--window-size=1400,900', 'about:blank'],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        active = os.path.join(self.profile, 'DevToolsActivePort')
        assert until(lambda: os.path.exists(active) and open(active).read().count('\n'), 30)
        port = open(active).read().split()[0]
        targets = json.load(urllib.request.urlopen('http://127.0.0.1:%s/json/list' % port))
        page = next(t for t in targets if t['type'] == 'page')
        self.socket = websocket.create_connection(page['webSocketDebuggerUrl'], timeout=20,
                                                  suppress_origin=True)
        self.calls = 0

    def call(self, method, **params):
        self.calls += 1
        self.socket.send(json.dumps({'id': self.calls, 'method': method, 'params': params}))
        while True:
            answer = json.loads(self.socket.recv())
            if answer.get('id') == self.calls:
                assert 'error' not in answer, answer
                return answer['result']

    def evaluate(self, expression):
        return self.call('Runtime.evaluate', expression=expression, returnByValue=True,
                         awaitPromise=True)['result'].get('value')

    def click(self, selector):
        box = self.evaluate('(() => { const e = document.querySelector(%s); '
                            'e.scrollIntoView({block: "center"}); '
                            'const r = e.getBoundingClientRect(); '
                            'return [r.x + r.width / 2, r.y + r.height / 2]; })()'
                            % json.dumps(selector))
        for kind in ('mousePressed', 'mouseReleased'):
            self.call('Input.dispatchMouseEvent', type=kind, x=box[0], y=box[1],
                      button='left', clickCount=1)

    def close(self):
        self.socket.close()
        self.process.terminate()
        self.process.wait(10)
        shutil.rmtree(self.profile, ignore_errors=True)


# Every picture complete, the last drawn with every line the page knows of.
PAPER_SHOWN = '''(() => {
    const images = [...document.querySelectorAll('#paper img')];
    const last = images[images.length - 1];
    return document.getElementById('text').textContent.includes(%s) &&
        images.every((i) => i.complete && i.naturalHeight > 0) &&
        last.src.endsWith('v=' + document.body.dataset.lines);
})()'''

# The pictures as the browser decoded them, pixel for pixel.
PAPER_PIXELS = '''[...document.querySelectorAll('#paper img')].map((image) => {
    const canvas = document.createElement('canvas');
    canvas.width = image.naturalWidth;
    canvas.height = image.naturalHeight;
    canvas.getContext('2d').drawImage(image, 0, 0);
    return canvas.toDataURL('image/png');
})'''


def post(headers, body=b'do=paper-out', path='/command', method='POST'):
    request = urllib.request.Request(BASE + path, data=body, headers=headers, method=method)
    try:
        return urllib.request.urlopen(request, timeout=5).status
    except urllib.error.HTTPError as error:
        return error.code
    except (ConnectionError, urllib.error.URLError):
        return 'cut'


def ask(command):
    return printer_panel.ask(command, CONTROL)


def state():
    return json.load(urllib.request.urlopen(BASE + '/state', timeout=5))


def check_refusals():
    port = HTTP.rsplit(':', 1)[1]
    # Each: what is sent (headers, then body, path and method unless the
    # defaults), and the status, or 'cut' for a connection closed unanswered.
    rows = [
        ('a POST without Origin', {}, 403),
        ('a POST from another site', {'Origin': 'http://example.com'}, 403),
        ('a POST the browser marks cross-site', {'Origin': BASE, 'Sec-Fetch-Site': 'cross-site'}, 403),
        ('a page whose name resolves here', {'Host': 'example.com:' + port,
                                             'Origin': 'http://example.com:' + port}, 421),
        ('a command by GET', {'Origin': BASE}, 405, None, '/command?do=paper-out', 'GET'),
        ('a request past the size limit', {'Origin': BASE}, 'cut', b'do=' + b'x' * 100000),
        ('an unknown command', {'Origin': BASE}, 400, b'do=fire'),
        ('a wait not a number', {}, 400, None, '/poll?since=-1', 'GET'),
    ]
    for name, headers, expected, *request in rows:
        got = post(headers, *request)
        assert got == expected, (name, got)
    host, port = HTTP.rsplit(':', 1)
    held = [socket.create_connection((host, int(port))) for _ in range(32)]
    assert until(lambda: post({}, None, '/state', 'GET') == 'cut', 2), 'a 33rd connection served'
    for connection in held:
        connection.close()
    assert until(lambda: post({}, None, '/state', 'GET') == 200, 2), 'connections not given back'
    s = state()
    assert s['paper'] == 'in' and not s['offline'], s


if not os.path.exists(BROWSER):
    sys.exit(77)
check_refusals()
browser = Browser()
try:
    line = serial.serial_for_url('rfc2217://' + RFC2217, timeout=1)
    assert line.cts
    browser.call('Page.navigate', url=BASE + '/')
    assert until(lambda: browser.evaluate(PAPER_SHOWN % '""'), 10), 'the page did not load'
    line.write(open(os.path.join(FOLDER, 'receipt.bin'), 'rb').read())
    line.flush()
    sent = time.monotonic()
    assert until(lambda: browser.evaluate(PAPER_SHOWN % '"RECIBO WEB 4711"'), 10)
    shown = time.monotonic() - sent
    assert shown < 1, 'the receipt showed after %.2f s' % shown

    # The --png pages of the same paper, kept from the tear below.
    assert ask('save') == 'ok'
    saved = 0
    for name in os.listdir(FOLDER):
        if name.startswith('receipt') and name.endswith('.png'):
            shutil.copy(os.path.join(FOLDER, name), os.path.join(FOLDER, 'saved-' + name))
            saved += 1
    # The page may show the last line a moment before its page count has
    # caught up with a page that has just filled: wait for every page.
    assert until(lambda: browser.evaluate(PAPER_SHOWN % '"RECIBO WEB 4711"') and browser.evaluate(
        'document.querySelectorAll("#paper img").length') == saved, 5), 'pages not all shown'
    for page, url in enumerate(browser.evaluate(PAPER_PIXELS), 1):
        with open(os.path.join(FOLDER, 'web-%d.png' % page), 'wb') as out:
            out.write(base64.b64decode(url.split(',', 1)[1]))
    shot = browser.call('Page.captureScreenshot', format='png')
    with open(os.path.join(FOLDER, 'screenshot.png'), 'wb') as out:
        out.write(base64.b64decode(shot['data']))
    box = browser.evaluate('(() => { const r = document.getElementById("paper")'
                           '.getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()')
    with open(os.path.join(FOLDER, 'paper-box.json'), 'w') as out:
        json.dump(box, out)

    browser.click('button[value="paper-out"]')
    clicked = time.monotonic()
    assert until(lambda: not line.cts, 1), 'CTS still on'
    assert time.monotonic() - clicked < 1
    assert state()['paper'] == 'out'
    line.close()

    # Torn off, the receipt is listed with its text; the roll starts empty.
    browser.click('button[value="tear"]')
    assert until(lambda: browser.evaluate(
        'document.querySelectorAll("#receipts li").length === 1 && '
        'document.getElementById("text").textContent === ""'), 1)
    link = browser.evaluate('document.querySelector("#receipts a[href$=\'.txt\']").href')
    assert b'RECIBO WEB 4711\n' in urllib.request.urlopen(link, timeout=5).read()
finally:
    browser.close()
