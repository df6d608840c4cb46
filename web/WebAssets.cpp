#include "web/WebAssets.h"

namespace vexa {

const std::string_view kWebCss = R"css(
* { box-sizing: border-box; }
body { margin: 0; font-family: "DejaVu Sans", "Liberation Sans", sans-serif; font-size: 15px; color: #111; background: #f4f4f4; }
nav { display: flex; flex-wrap: wrap; gap: 4px 14px; align-items: center; padding: 8px 10px; background: #1f3a5a; color: #fff; }
nav a, nav button { color: #fff; text-decoration: none; background: none; border: 0; font: inherit; cursor: pointer; padding: 0; }
nav .who { margin-left: auto; opacity: .85; }
nav form { display: inline; }
.badge { display: inline-block; min-width: 1.4em; padding: 0 5px; border-radius: 9px; background: #d22; color: #fff; text-align: center; font-size: 13px; }
.badge[hidden] { display: none; }
main { padding: 10px; }
h1 { font-size: 19px; margin: 4px 0 10px; }
h2 { font-size: 17px; margin: 16px 0 8px; }
.tabs { display: flex; flex-wrap: wrap; gap: 2px; margin-bottom: -1px; }
.tab { padding: 5px 10px; border: 1px solid #999; border-bottom: 0; background: #ddd; color: #111; text-decoration: none; border-radius: 4px 4px 0 0; }
.tab.current { background: #fff; font-weight: bold; }
.scroll { overflow: auto; max-width: 100%; border: 1px solid #999; background: #fff; }
.mnemo { position: relative; display: inline-block; vertical-align: top; }
.mnemo img { display: block; }
.missing { width: 250px; height: 30px; border: 1px solid red; color: red; display: flex; align-items: center; justify-content: center; background: #fff; }
.label { position: absolute; white-space: pre; line-height: 1.2; padding: 0 2px; color: #000; text-decoration: none; }
.b1 { border: 1px solid #000; }
.b2 { border: 1px solid; border-color: #808080 #fff #fff #808080; }
.a1 { animation: flash 1s steps(1) infinite; }
.a2 { box-shadow: inset 0 0 0 999px var(--ac); }
.a3 { animation: ring 1s steps(1) infinite; }
@keyframes flash { 0% { box-shadow: inset 0 0 0 999px var(--ac); } 50% { box-shadow: none; } }
@keyframes ring { 0% { outline: 2px solid var(--ac); outline-offset: -2px; } 50% { outline: none; } }
table { border-collapse: collapse; background: #fff; }
th, td { border: 1px solid #bbb; padding: 4px 6px; text-align: left; vertical-align: top; }
th { background: #e4e8ee; }
td.a1, td.a2, td.a3 { font-weight: bold; }
.wide { overflow-x: auto; max-width: 100%; }
.spans { display: flex; flex-wrap: wrap; gap: 6px; margin: 8px 0; }
.spans a { padding: 4px 10px; border: 1px solid #888; border-radius: 4px; text-decoration: none; color: #111; background: #fff; }
.spans a.current { background: #1f3a5a; color: #fff; }
svg.trend { width: 100%; max-width: 900px; height: auto; background: #fff; border: 1px solid #999; }
.note { color: #555; }
.problem { color: #b00; }
form.login { display: grid; gap: 8px; max-width: 320px; }
form.login input { font: inherit; padding: 6px; }
button { font: inherit; padding: 4px 10px; }
@media (max-width: 600px) { body { font-size: 14px; } main { padding: 6px; } th, td { padding: 3px 4px; } }
)css";

const std::string_view kWebJs = R"js(
(function () {
  'use strict';
  var live = document.querySelector('[data-live]');
  if (!live) return;
  var places = null;
  function index() {
    places = {};
    document.querySelectorAll('[data-r],[data-v],[data-at]').forEach(function (el) {
      var n = el.getAttribute('data-r') || el.getAttribute('data-v') || el.getAttribute('data-at');
      (places[n] = places[n] || []).push(el);
    });
  }
  function apply(m) {
    if (m.reload) { location.reload(); return; }  // the network's trees were replaced
    var badge = document.getElementById('unacked');
    if (badge) { badge.textContent = m.unacked; badge.hidden = m.unacked === 0; }
    m.v.forEach(function (c) {
      (places[c.n] || []).forEach(function (el) {
        var base = el.getAttribute('data-base') || '';
        var has = c.v !== undefined;
        if (el.hasAttribute('data-r')) { if (has && c.t) el.textContent = c.t; }
        else if (el.hasAttribute('data-v')) { if (has) el.textContent = c.v; }
        else { if (has) el.textContent = c.at; return; }
        el.className = base + ' a' + c.a;
        el.style.setProperty('--ac', c.c);
      });
    });
    var active = document.getElementById('active');
    if (m.alarms && active) {
      fetch('/alarms/active', { credentials: 'same-origin' }).then(function (r) {
        return r.ok ? r.text() : null;
      }).then(function (html) { if (html !== null) active.innerHTML = html; });
    }
  }
  function connect() {
    var ws = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/ws');
    ws.onmessage = function (e) { try { apply(JSON.parse(e.data)); } catch (x) {} };
    ws.onclose = function () { setTimeout(connect, 2000); };
  }
  index();
  connect();
})();
)js";

}  // namespace vexa
