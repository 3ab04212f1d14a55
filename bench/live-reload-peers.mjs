// Live reload against two common development servers, run by bench/live-reload-peers.sh. The same
// small site (a page, a style sheet, a module script) is served three times, from three copies, by
// our server, vite and live-server, each on its own free port on 127.0.0.1, and shown in one headless
// Chromium (a tab each). The servers take turns, save after save, so a change in the machine's load
// falls on all three alike. For each, SAVES times:
//   page: index.html saved -> the new page starts: Date.now() right before the write, against the
//         new document's performance.timeOrigin (both epoch milliseconds on this machine);
//   css:  style.css saved with a new width -> getComputedStyle shows it, polled in the page by a
//         setTimeout loop (about every 4 ms);
//   msg:  the WebSocket message that announced the change reaching Chromium (CDP
//         Network.webSocketFrameReceived) -> the style applied: what is left once the server has
//         spoken. The server's own send time is not visible from outside, so this starts at the
//         browser's end of the socket.
// Prints a Markdown table of medians and worsts.
//
// Usage: node live-reload-peers.mjs NODE_DIR SERVER CHROMIUM WORK SAVES
//   NODE_DIR  folder whose node_modules hold puppeteer-core, vite and live-server
//   SERVER    a copy of our server under a name the tool's sweep leaves alone
//   WORK      a scratch folder (sites, browser profile, pids); the caller removes it
// Every child's id goes to WORK/pids as it starts, so the caller can end them if this script is killed.

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';

if (process.argv.length !== 7 || !(Number(process.argv[6]) > 0)) {
    console.error('usage: node live-reload-peers.mjs NODE_DIR SERVER CHROMIUM WORK SAVES');
    process.exit(2);
}
// The servers run in their sites' folders: every path is made absolute first.
const [nodeDir, serverPath, chromiumPath, work] = process.argv.slice(2, 6).map((p) => path.resolve(p));
const saves = Number(process.argv[6]);
const require = createRequire(path.join(nodeDir, 'bench.js'));
const puppeteer = require('puppeteer-core');
const packageVersion = (name) => require(`${name}/package.json`).version;

const WaitMs = 10000; // the most any one change may take before it counts as missed
const SettleMs = 300; // between changes, so no server's quiet time or debounce spans two saves
const WarmUpRounds = 2;

const children = [];
let browserProcess = null;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function page(version) {
    return `<!DOCTYPE html>
<html data-v="${version}">
<head><meta charset="utf-8"><title>live reload peers</title><link rel="stylesheet" href="style.css"></head>
<body><div id="probe">probe</div><script type="module" src="main.js"></script></body>
</html>
`;
}
const style = (width) => `#probe { width: ${width}px; }\n`;

function makeSite(folder) {
    fs.mkdirSync(folder, { recursive: true });
    fs.writeFileSync(path.join(folder, 'index.html'), page(0));
    fs.writeFileSync(path.join(folder, 'style.css'), style(100));
    fs.writeFileSync(path.join(folder, 'main.js'), "document.getElementById('probe').dataset.ran = 'yes';\n");
}

function freePort() {
    return new Promise((resolve, reject) => {
        const probe = net.createServer();
        probe.on('error', reject);
        probe.listen(0, '127.0.0.1', () => {
            const { port } = probe.address();
            probe.close(() => resolve(port));
        });
    });
}

function start(name, program, args, cwd) {
    const child = spawn(program, args, { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
    fs.appendFileSync(path.join(work, 'pids'), `${child.pid}\n`);
    let log = '';
    const keep = (chunk) => {
        log = (log + chunk).slice(-4000);
    };
    child.stdout.on('data', keep);
    child.stderr.on('data', keep);
    children.push({ name, child, log: () => log });
    return child;
}

function answers(port) {
    return new Promise((resolve) => {
        const request = http.get({ host: '127.0.0.1', port, path: '/', timeout: 1000 }, (response) => {
            response.resume();
            resolve(response.statusCode === 200);
        });
        request.on('error', () => resolve(false));
        request.on('timeout', () => {
            request.destroy();
            resolve(false);
        });
    });
}

async function waitForServer(entry, port) {
    const deadline = Date.now() + 30000;
    while (Date.now() < deadline) {
        if (entry.child.exitCode !== null || entry.child.signalCode !== null) break;
        if (await answers(port)) return;
        await sleep(50);
    }
    throw new Error(`${entry.name} did not serve on port ${port}: ${entry.log()}`);
}

// Runs in every document before its own scripts: once the bench names a width (kept in
// sessionStorage, so it survives a reload), stamps the moment the probe shows it.
function installProbe() {
    window.__peerSeenAt = 0;
    const check = () => {
        const want = sessionStorage.getItem('__peerWant');
        const probe = document.getElementById('probe');
        if (want && !window.__peerSeenAt && probe && getComputedStyle(probe).width === want) {
            window.__peerSeenAt = performance.timeOrigin + performance.now();
        }
        setTimeout(check, want && !window.__peerSeenAt ? 0 : 50);
    };
    check();
}

// Evaluates in the current document; null while a navigation replaces it.
async function look(tab, fn, ...args) {
    try {
        return await tab.evaluate(fn, ...args);
    } catch {
        return null;
    }
}

async function until(tab, fn, ...args) {
    const deadline = Date.now() + WaitMs;
    while (Date.now() < deadline) {
        const value = await look(tab, fn, ...args);
        if (value) return value;
        await sleep(10);
    }
    return null;
}

async function openTab(browser, server) {
    const tab = await browser.newPage();
    const cdp = await tab.createCDPSession();
    server.frames = [];
    server.clockOffset = null; // epoch ms minus CDP monotonic ms
    cdp.on('Network.requestWillBeSent', (event) => {
        server.clockOffset = event.wallTime * 1000 - event.timestamp * 1000;
    });
    cdp.on('Network.webSocketFrameReceived', (event) => {
        server.frames.push({ at: event.timestamp * 1000, data: String(event.response.payloadData) });
    });
    await cdp.send('Network.enable');
    await tab.evaluateOnNewDocument(installProbe);
    await tab.goto(`http://127.0.0.1:${server.port}/index.html`, { waitUntil: 'load', timeout: 30000 });
    if (!(await until(tab, () => document.getElementById('probe')?.dataset.ran === 'yes'))) {
        throw new Error(`${server.name}: the page's module script did not run`);
    }
    server.tab = tab;
}

async function pageSave(server, version) {
    await server.tab.bringToFront();
    const savedAt = Date.now();
    fs.writeFileSync(path.join(server.site, 'index.html'), page(version));
    const origin = await until(
        server.tab,
        (v) => document.documentElement.dataset.v === String(v) && document.readyState === 'complete' && performance.timeOrigin,
        version,
    );
    return origin ? origin - savedAt : null;
}

async function cssSave(server, width) {
    await server.tab.bringToFront();
    const want = `${width}px`;
    await look(server.tab, (w) => {
        sessionStorage.setItem('__peerWant', w);
        window.__peerSeenAt = 0;
    }, want);
    const savedAt = Date.now();
    fs.writeFileSync(path.join(server.site, 'style.css'), style(width));
    const seenAt = await until(server.tab, () => window.__peerSeenAt);
    await look(server.tab, () => sessionStorage.removeItem('__peerWant'));
    if (!seenAt) return { css: null, msg: null };
    const frame = server.clockOffset === null
        ? undefined
        : server.frames.find((f) => f.at + server.clockOffset >= savedAt && server.announces.test(f.data));
    return { css: seenAt - savedAt, msg: frame ? seenAt - (frame.at + server.clockOffset) : null };
}

const median = (values) => {
    const sorted = [...values].sort((a, b) => a - b);
    const middle = Math.floor(sorted.length / 2);
    return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};
const figure = (values) =>
    values.length ? `${median(values).toFixed(1)} / ${Math.max(...values).toFixed(1)}` : '-';

async function stopAll(browser) {
    if (browser) {
        await Promise.race([browser.close().catch(() => {}), sleep(10000)]);
        if (browserProcess && browserProcess.exitCode === null) browserProcess.kill('SIGKILL');
    }
    for (const { child } of children) {
        if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
    }
    const deadline = Date.now() + 3000;
    while (Date.now() < deadline && children.some(({ child }) => child.exitCode === null && child.signalCode === null)) {
        await sleep(20);
    }
    for (const { child } of children) {
        if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    }
}

async function main() {
    const loadAtStart = os.loadavg();
    const servers = [
        {
            name: 'this server',
            version: 'build/bin/mongoose',
            announces: /^(css(\n.*)?|reload)$/s,
        },
        {
            name: 'vite',
            version: packageVersion('vite'),
            announces: /"type":"(update|full-reload)"/,
        },
        {
            name: 'live-server',
            version: packageVersion('live-server'),
            announces: /^(refreshcss|reload)$/,
        },
    ];
    for (const server of servers) {
        server.site = path.join(work, server.name.replace(/\W+/g, '-'));
        makeSite(server.site);
        server.port = await freePort();
    }
    const [ours, vite, liveServer] = servers;
    let browser;
    try {
        start(ours.name, serverPath, [String(ours.port)], ours.site);
        start(vite.name, process.execPath, [path.join(nodeDir, 'node_modules/vite/bin/vite.js'), vite.site, '--host', '127.0.0.1',
            '--port', String(vite.port), '--strictPort', '--clearScreen', 'false'], vite.site);
        start(liveServer.name, process.execPath, [path.join(nodeDir, 'node_modules/live-server/live-server.js'), liveServer.site,
            '--host=127.0.0.1', `--port=${liveServer.port}`, '--no-browser'], liveServer.site);
        for (let i = 0; i < servers.length; ++i) await waitForServer(children[i], servers[i].port);

        browser = await puppeteer.launch({
            executablePath: chromiumPath,
            headless: true,
            pipe: true,
            userDataDir: path.join(work, 'profile'),
            args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
                '--disable-sync', '--no-first-run',
                '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE localhost, EXCLUDE 127.0.0.1'],
        });
        browserProcess = browser.process();
        fs.appendFileSync(path.join(work, 'pids'), `${browserProcess.pid}\n`);
        for (const server of servers) await openTab(browser, server);

        for (const server of servers) Object.assign(server, { page: [], css: [], msg: [], missed: 0 });
        let version = 0;
        for (let round = 0; round < WarmUpRounds + saves; ++round) {
            // Each round starts with another server, so none is always first after a pause.
            const order = servers.map((_, i) => servers[(i + round) % servers.length]);
            for (const server of order) {
                ++version;
                const pageMs = await pageSave(server, version);
                await sleep(SettleMs);
                const { css, msg } = await cssSave(server, 100 + version);
                await sleep(SettleMs);
                if (round < WarmUpRounds) continue;
                if (pageMs === null || css === null) ++server.missed;
                if (pageMs !== null) server.page.push(pageMs);
                if (css !== null) server.css.push(css);
                if (msg !== null) server.msg.push(msg);
            }
        }
        const chromium = await browser.version();
        const loadAtEnd = os.loadavg();
        const load = (l) => l.map((v) => v.toFixed(2)).join(' ');
        console.log(`${saves} saves of each kind per server, interleaved; ${chromium}, Node ${process.version}`);
        console.log(`load average at start: ${load(loadAtStart)}; at end: ${load(loadAtEnd)}`);
        console.log('');
        console.log('| server | save to new page starts, median / worst (ms) | CSS save to style applied, median / worst (ms) | socket message in Chromium to style applied, median / worst (ms) | missed |');
        console.log('| --- | --- | --- | --- | --- |');
        for (const server of servers) {
            console.log(`| ${server.name} (${server.version}) | ${figure(server.page)} | ${figure(server.css)} | ${figure(server.msg)} | ${server.missed} |`);
        }
        console.log('');
        console.log('CSS: polled in the page about every 4 ms. Message to style: from Chromium receiving the WebSocket');
        console.log('frame (CDP Network.webSocketFrameReceived), as the servers\' own send times are not visible from');
        console.log('outside. Defaults kept: this server tells a save once its writer closes the file, live-server waits 100 ms (--wait).');
    } finally {
        await stopAll(browser);
    }
}

for (const signal of ['SIGINT', 'SIGTERM']) {
    process.on(signal, () => {
        for (const { child } of children) child.kill('SIGKILL');
        if (browserProcess) browserProcess.kill('SIGKILL');
        process.exit(1);
    });
}
main().catch((error) => {
    console.error(`error: ${error.message}`);
    process.exitCode = 1;
});
