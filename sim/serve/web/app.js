// The page follows the printer: one request waits on the server until
// something changes (so an idle page costs nothing), then the panel and the
// receipts are swapped for the server's fresh ones and the paper gets its
// new lines: new pages added, the page being printed drawn again.
'use strict';

const paper = document.getElementById('paper');
const text = document.getElementById('text');
const message = document.getElementById('message');
// The first request is answered at once: the page's own pictures are redrawn
// by the same code as every later change.
let version = 0;
let roll = null;
let ended = '';       // the text of the printed lines
let textBytes = 0;    // its size in bytes, as the server counts it
let imageLines = [];  // per page: the lines it was drawn with

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

function atEnd() {
    return paper.scrollHeight - paper.scrollTop - paper.clientHeight < 40;
}

function showPages(update) {
    // The newest line stays in view unless the reader has scrolled back.
    const follow = roll === null || atEnd();
    const sameRoll = roll !== null && update.id === roll.id;
    if (!sameRoll) {
        paper.replaceChildren();
        imageLines = [];
    }
    // A page once full never changes: only the last one seen may have grown.
    const changing = sameRoll ? roll.pages : 1;
    for (let page = 1; page <= update.pages; ++page) {
        let image = paper.children[page - 1];
        if (!image) {
            image = new Image();
            image.width = paper.dataset.width;
            image.alt = 'Papel, página ' + page;
            paper.append(image);
        }
        if (page >= changing && imageLines[page - 1] !== update.lines) {
            image.src = '/rolls/' + update.id + '/' + page + '.png?v=' + update.lines;
            imageLines[page - 1] = update.lines;
            image.onload = follow ? () => { paper.scrollTop = paper.scrollHeight; } : null;
        }
    }
}

async function showText(update) {
    if (roll === null || update.id !== roll.id) {
        ended = '';
        textBytes = 0;
    }
    if (update.text > textBytes) {
        const answer = await fetch('/rolls/' + update.id + '.txt?from=' + textBytes);
        if (!answer.ok)
            throw new Error(answer.status);
        const bytes = await answer.arrayBuffer();
        ended += new TextDecoder().decode(bytes);
        textBytes += bytes.byteLength;
    }
    text.textContent = ended + update.unfinished;
}

async function follow() {
    for (;;) {
        try {
            const answer = await fetch('/poll?since=' + version);
            if (!answer.ok)
                throw new Error(answer.status);
            const update = await answer.json();
            version = update.version;
            document.getElementById('panel').innerHTML = update.panel;
            document.getElementById('receipts').innerHTML = update.receipts;
            showPages(update.roll);
            await showText(update.roll);
            roll = update.roll;
            document.body.dataset.lines = roll.lines;
        } catch (error) {
            message.textContent = 'Sem contato com a impressora; tentando de novo…';
            message.dataset.lost = 'yes';
            await sleep(1000);
            continue;
        }
        if (message.dataset.lost) {
            message.textContent = '';
            delete message.dataset.lost;
        }
    }
}

document.getElementById('buttons').addEventListener('submit', async (event) => {
    event.preventDefault();
    const body = new URLSearchParams({ do: event.submitter.value });
    try {
        const answer = await fetch('/command', { method: 'POST', body });
        message.textContent = answer.ok ? '' : await answer.text();
    } catch (error) {
        message.textContent = 'Sem contato com a impressora.';
    }
});

paper.dataset.width = paper.querySelector('img')?.width ?? 912;
follow();
