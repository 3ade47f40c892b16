#include "cli/station/web/StationPage.h"

namespace brintel::cli {

const char* const kStationPageHtml = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>brintel station</title>
<link rel="stylesheet" href="station.css">
<script src="station.js" defer></script>
</head>
<body>
<header>
<h1>Station</h1>
<nav><a href="./" aria-current="page">Live</a> <a href="history">History</a></nav>
<p id="banner" class="banner waiting">Connecting to the station&hellip;</p>
</header>
<section id="totals">
<div>completed<b id="completed">0</b></div>
<div>failed<b id="failed">0</b></div>
<div>completed per hour<b id="per-hour">0</b></div>
</section>
<main id="tiles"></main>
<h2>Last units</h2>
<table id="last">
<thead><tr><th>ended</th><th>ch</th><th>socket</th><th>display</th><th>outcome</th><th>why</th><th>time</th></tr></thead>
<tbody></tbody>
</table>
<noscript><p>This page follows the station with a script; the history view needs none.</p></noscript>
</body>
</html>
)";

const char* const kStationPageCss = R"(
body { font: 18px/1.35 system-ui, "Noto Sans", "Noto Sans CJK SC", sans-serif; color: #1b1b1b;
       background: #f2f2f2; margin: 0; padding: 12px 20px; }
header { display: flex; flex-wrap: wrap; align-items: baseline; gap: 8px 24px; }
h1 { font-size: 30px; margin: 0; }
h2 { font-size: 22px; margin: 24px 0 6px; }
nav a { font-size: 20px; margin-right: 12px; }
nav a[aria-current] { font-weight: bold; color: inherit; text-decoration: none; }
.banner { margin: 0; padding: 4px 12px; border-radius: 6px; font-weight: bold; }
.banner.live { background: #dcedc8; }
.banner.waiting { background: #fff3cd; }
.banner.ended { background: #37474f; color: #fff; }
#totals { display: flex; gap: 12px; margin: 12px 0; }
#totals div { background: #fff; border-radius: 8px; padding: 6px 16px; font-size: 18px; }
#totals b { display: block; font-size: 34px; }
#tiles { display: grid; grid-template-columns: repeat(auto-fill, minmax(560px, 1fr)); gap: 14px; }
.tile { background: #fff; border-radius: 10px; padding: 12px 16px; border-left: 14px solid #9e9e9e; }
.tile.waiting { border-color: #f9a825; }
.tile.plain { border-color: #1565c0; }
.tile.done { border-color: #2e7d32; }
.tile.failed { border-color: #c62828; background: #ffebee; }
.tile .head { display: flex; gap: 16px; align-items: baseline; font-size: 22px; }
.tile .number { font-size: 36px; font-weight: bold; }
.tile .display { font-family: ui-monospace, "DejaVu Sans Mono", monospace; }
.tile .state { font-size: 34px; font-weight: bold; margin: 4px 0; }
.tile.waiting .state { color: #8d6e00; }
.tile.done .state { color: #2e7d32; }
.tile.failed .state { color: #c62828; }
.tile .reason { font-size: 24px; color: #c62828; margin: 0; }
.tile .cue { font-size: 22px; margin: 4px 0; }
.tile progress { width: 100%; height: 28px; appearance: none; -webkit-appearance: none; }
.tile progress::-webkit-progress-bar { background: #e0e0e0; border-radius: 6px; }
.tile progress::-webkit-progress-value { background: #1565c0; border-radius: 6px; }
.tile.done progress::-webkit-progress-value { background: #2e7d32; }
.tile .numbers { font-size: 24px; display: flex; justify-content: space-between; margin: 2px 0; }
.tile .title { color: #555; margin: 2px 0; }
.tile .pictures { display: flex; gap: 8px; }
.tile .pictures img { max-width: calc(50% - 4px); height: auto; border: 1px solid #ccc; }
.tile .pictures img[hidden] { display: none; }
table { border-collapse: collapse; width: 100%; background: #fff; font-size: 16px; }
th, td { border-bottom: 1px solid #ddd; padding: 3px 8px; text-align: left; }
tr.failed td.outcome { color: #c62828; font-weight: bold; }
tr.completed td.outcome { color: #2e7d32; }
)";

// Built with textContent and properties only: a display's or a server's text
// can never become markup here.
const char* const kStationPageJs = R"('use strict';
(() => {
  const byId = (id) => document.getElementById(id);
  const tiles = new Map();
  let ended = false;

  const make = (parent, tag, className) => {
    const node = document.createElement(tag);
    if (className) node.className = className;
    parent.appendChild(node);
    return node;
  };
  const setText = (node, text) => {
    if (node.textContent !== text) node.textContent = text;
  };
  const localTime = (utc) => (utc ? new Date(utc).toLocaleTimeString() : '');

  const tileFor = (channel) => {
    let tile = tiles.get(channel);
    if (tile) return tile;
    const root = make(byId('tiles'), 'article', 'tile');
    root.id = 'tile-' + channel;
    const head = make(root, 'div', 'head');
    tile = {
      root,
      number: make(head, 'span', 'number'),
      socket: make(head, 'span', 'socket'),
      display: make(head, 'span', 'display'),
      state: make(root, 'p', 'state'),
      reason: make(root, 'p', 'reason'),
      progress: make(root, 'progress'),
      numbers: make(root, 'p', 'numbers'),
      cue: make(root, 'p', 'cue'),
      title: make(root, 'p', 'title'),
      pictures: make(root, 'div', 'pictures'),
    };
    tile.percent = make(tile.numbers, 'span', 'percent');
    tile.left = make(tile.numbers, 'span', 'left');
    tile.images = [make(tile.pictures, 'img', 'left'), make(tile.pictures, 'img', 'right')];
    tiles.set(channel, tile);
    return tile;
  };

  const showTile = (t) => {
    const tile = tileFor(t.channel);
    tile.root.className = 'tile ' + t.tone;
    tile.root.dataset.blocks = String(t.blocks);
    setText(tile.number, String(t.channel));
    setText(tile.socket, t.socket);
    tile.socket.title = t.port;
    setText(tile.display, t.display || '-');
    setText(tile.state, t.state);
    setText(tile.reason, t.reason);
    tile.progress.max = t.of;
    tile.progress.value = t.blocks;
    setText(tile.percent, t.blocks > 0 ? Math.floor((t.blocks * 100) / t.of) + '%' : '');
    setText(tile.left, t.left);
    setText(tile.cue, t.cue);
    setText(tile.title, t.title);
    tile.images.forEach((img, i) => {
      const id = t.pictures[i];
      if (Number.isInteger(id)) {
        const src = 'pictures/' + id + '.bmp';
        if (img.getAttribute('src') !== src) img.setAttribute('src', src);
        img.alt = 'instruction picture ' + id;
        img.hidden = false;
      } else {
        img.removeAttribute('src');
        img.hidden = true;
      }
    });
  };

  const showLast = (units) => {
    const body = byId('last').tBodies[0];
    body.replaceChildren();
    for (const u of units) {
      const row = make(body, 'tr', u.outcome === 'completed' ? 'completed' : 'failed');
      const cells = [localTime(u.at), String(u.channel), u.socket, u.display || '-', u.outcome,
                     u.reason, u.seconds.toFixed(1) + ' s'];
      cells.forEach((text, i) => { make(row, 'td', i === 4 ? 'outcome' : '').textContent = text; });
    }
  };

  const banner = (text, kind) => {
    const node = byId('banner');
    setText(node, text);
    node.className = 'banner ' + kind;
  };

  const show = (board) => {
    setText(byId('completed'), String(board.completed));
    setText(byId('failed'), String(board.failed));
    setText(byId('per-hour'), board.perHour.toFixed(1));
    board.tiles.forEach(showTile);
    showLast(board.last);
    if (board.ended) {
      ended = true;
      source.close();
      banner('The station ended at ' + localTime(board.endedAt) + ': ' + board.endedWhy +
             '. This page shows how it left off and changes no more.', 'ended');
      document.title = 'brintel station (ended)';
    } else {
      banner('Live since ' + localTime(board.started), 'live');
    }
  };

  const source = new EventSource('events');
  source.addEventListener('board', (event) => show(JSON.parse(event.data)));
  source.onerror = () => {
    if (!ended) banner('The station cannot be reached (it may have ended); trying again\u2026', 'waiting');
  };
})();
)";

}  // namespace brintel::cli
