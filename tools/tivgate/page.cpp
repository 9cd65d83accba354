#include "tools/tivgate/page.h"

namespace tivgate {

// Swatches show a look as the bus has it: the left part in its red, green
// and blue, the right band in its white as a grey, each with the hex value
// as text. Every value is set as text, never as markup.
const std::string& page_html() {
    static const std::string page = R"html(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>tivgate</title>
<style>
  body { margin: 0; font: 14px/1.35 sans-serif; background: #f4f4f2; color: #1d1d1b; }
  header { display: flex; gap: 16px; align-items: baseline; padding: 10px 16px; background: #26323a; color: #fff; }
  header h1 { margin: 0; font-size: 18px; }
  #stale { color: #ffcf4a; font-weight: bold; }
  #override { margin: 8px 16px 0; padding: 6px 10px; background: #fff2c4; border: 1px solid #d9b23a; }
  main { padding: 8px 16px 16px; }
  h2 { font-size: 15px; margin: 12px 0 6px; }
  #fixtures { display: grid; grid-template-columns: repeat(auto-fill, 250px); gap: 8px; }
  .fixture { display: flex; gap: 10px; padding: 8px; background: #fff; border: 1px solid #cfcfca; border-radius: 4px; }
  .swatch { display: flex; flex: none; width: 64px; height: 64px; border: 1px solid #1d1d1b; }
  .swatch.small { width: 24px; height: 24px; }
  .swatch .rgb { flex: 3; }
  .swatch .white { flex: 1; border-left: 1px solid #1d1d1b; }
  .swatch.unknown { background: repeating-linear-gradient(45deg, #ddd 0 6px, #fff 6px 12px); }
  .address { font-weight: bold; }
  .hex { font-family: monospace; }
  .waiting { display: flex; gap: 6px; align-items: center; color: #8a4b00; }
  .panels { margin-top: 12px; display: grid; grid-template-columns: repeat(auto-fill, minmax(250px, 1fr)); gap: 8px; }
  .panel { padding: 4px 12px 8px; background: #fff; border: 1px solid #cfcfca; border-radius: 4px; }
  dl { display: grid; grid-template-columns: max-content 1fr; gap: 2px 12px; margin: 0; }
  dt { color: #5a5a55; }
  dd { margin: 0; }
  .bad { color: #b3261e; font-weight: bold; }
  .good { color: #1e6b2f; font-weight: bold; }
  ul { margin: 0; padding-left: 18px; }
</style>
</head>
<body>
<header><h1>tivgate</h1><span id="summary"></span><span id="stale"></span></header>
<div id="override" hidden></div>
<main>
  <h2>Fixtures: what the bus shows</h2>
  <div id="fixtures"></div>
  <div class="panels">
    <div class="panel"><h2>Line</h2><dl id="line"></dl></div>
    <div class="panel"><h2>olad</h2><dl id="olad"></dl></div>
    <div class="panel"><h2>Bus</h2><dl id="bus"></dl></div>
    <div class="panel"><h2>Groups</h2><ul id="groups"></ul></div>
  </div>
</main>
<script>
"use strict";
const $ = (id) => document.getElementById(id);

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

// "#RRGGBBWW": red, green and blue for the swatch, white as a grey band.
function swatch(look, small) {
  const s = el("div", "swatch" + (small ? " small" : ""));
  if (!look) {
    s.classList.add("unknown");
    s.title = "not known: nothing sent yet";
    return s;
  }
  const c = look.colour, w = c.slice(7, 9);
  const rgb = el("div", "rgb"), white = el("div", "white");
  rgb.style.background = "#" + c.slice(1, 7);
  white.style.background = "#" + w + w + w;
  s.title = c;
  s.append(rgb, white);
  return s;
}

function lookText(look) {
  if (!look) return "unknown";
  return look.colour + (look.fade !== undefined ? " fade " + look.fade : "");
}

function duration(s) {
  if (s === null || s === undefined) return "-";
  if (s < 60) return s.toFixed(1) + " s";
  if (s < 3600) return Math.floor(s / 60) + " min " + Math.floor(s % 60) + " s";
  if (s < 86400) return Math.floor(s / 3600) + " h " + Math.floor((s % 3600) / 60) + " min";
  return Math.floor(s / 86400) + " d " + Math.floor((s % 86400) / 3600) + " h";
}

function clockAgo(s) {
  return new Date(Date.now() - s * 1000).toLocaleString();
}

function fill(list, rows) {
  list.replaceChildren(...rows.flatMap(([k, v, cls]) => [el("dt", null, k), el("dd", cls, String(v))]));
}

function fixture(f) {
  const card = el("div", "fixture");
  card.dataset.address = f.address;
  const text = el("div");
  const where = f.kind === "group" ? "group fixture" : f.group !== null ? "device in group " + f.group : "device";
  text.append(el("div", "address", f.address), el("div", null, where + ", " + f.mode + ", DMX " + f.channel),
              el("div", "hex", lookText(f.on_bus)), el("div", null, f.age_s === null ? "" : "shown " + duration(f.age_s)));
  if (f.waiting) {
    const w = el("div", "waiting");
    w.append(el("span", null, "waiting:"), swatch(f.waiting, true), el("span", "hex", lookText(f.waiting)));
    text.append(w);
  }
  card.append(swatch(f.on_bus, false), text);
  return card;
}

function show(s) {
  $("summary").textContent = "universe " + s.universe + ", " + s.fixtures.length + " fixtures, line " + s.line.state;
  const o = s.override;
  $("override").hidden = o === undefined || o === null;
  if (o) $("override").textContent = "Override: " + o.kind + " " + o.target + (o.now ? ", now " + o.now : "") +
                                     ", " + Math.ceil(o.seconds_left) + " s left";
  $("fixtures").replaceChildren(...s.fixtures.map(fixture));
  const up = s.line.state === "open";
  fill($("line"), [
    ["device", s.line.device || s.line.path],
    ["state", s.line.state, up ? "good" : "bad"],
    ["since", clockAgo(s.line.since_s) + " (" + duration(s.line.since_s) + ")"],
    ["losses", s.line.losses, s.line.losses ? "bad" : ""],
  ]);
  fill($("olad"), [
    ["connected", s.olad.connected ? "yes" : "no", s.olad.connected ? "good" : "bad"],
    ["address", s.olad.address],
    ["universe", s.universe],
    ["DMX", s.olad.dmx_per_s + " frames/s"],
    ["source", s.olad.silent ? "silent" : s.olad.last_frame_s === null ? "no frame yet" : "sending", s.olad.silent ? "bad" : ""],
    ["last frame", s.olad.last_frame_s === null ? "-" : duration(s.olad.last_frame_s) + " ago"],
  ]);
  const n = s.counts;
  fill($("bus"), [
    ["looks/s", s.looks_per_s],
    ["looks sent", n.looks_sent],
    ["refreshes", n.refreshes],
    ["group looks", n.group_looks + " (saved " + n.device_looks_saved + " device looks)"],
    ["failed sends", n.failed_sends, n.failed_sends ? "bad" : ""],
    ["latency", "median " + s.latency_ms.median + " ms, p99 " + s.latency_ms.p99 + " ms"],
    ["uptime", duration(s.uptime_s)],
    ["version", s.version],
  ]);
  $("groups").replaceChildren(...(s.groups.length ? s.groups.map((g) => el("li", null, "group " + g.address + ": " + g.members.join(", ")))
                                                   : [el("li", null, "none declared")]));
}

async function poll() {
  try {
    const r = await fetch("/status.json", {cache: "no-store"});
    if (!r.ok) throw new Error(r.status);
    show(await r.json());
    $("stale").textContent = "";
  } catch (e) {
    $("stale").textContent = "tivgate does not answer: the figures below are old";
  }
  setTimeout(poll, 500);
}
poll();
</script>
</body>
</html>
)html";
    return page;
}

}  // namespace tivgate
