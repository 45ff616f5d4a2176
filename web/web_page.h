// SPDX-License-Identifier: MIT
#pragma once

// The page itself: plain HTML, its style and a little script, all served from the program.
// The script fills the forms from /state, keeps them current from the event stream, and
// sends each form's one setting to /set; without the script the forms still post.
namespace kt::remote::web {

inline constexpr const char* kPage = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>KT DAC evaluation board</title>
<style>
body { font-family: system-ui, sans-serif; margin: 1.5em auto; max-width: 40em; padding: 0 1em; color: #111; }
h1 { font-size: 1.4em; margin-bottom: .2em; }
#identity { color: #444; margin-top: 0; }
dl { display: grid; grid-template-columns: max-content auto; gap: .3em 1em; }
dt { font-weight: 600; }
dd { margin: 0; font-variant-numeric: tabular-nums; }
form { display: grid; grid-template-columns: 13em 11em auto; align-items: center; gap: .5em; margin: .6em 0; }
form > * { justify-self: start; }
form select, form input { width: 100%; box-sizing: border-box; }
input, select, button { font: inherit; padding: .2em .4em; }
:focus-visible { outline: 3px solid #1a5fb4; outline-offset: 1px; }
#errors { color: #a51d2d; min-height: 1.4em; }
#lock { color: #a51d2d; }
footer { margin-top: 2em; font-size: .9em; color: #444; }
code { font-size: .95em; }
</style>
</head>
<body>
<main>
<h1>KT DAC evaluation board</h1>
<p id="identity">&nbsp;</p>
<dl aria-live="polite">
<dt>Device</dt><dd id="show-device">&ndash;</dd>
<dt>Code</dt><dd id="show-code">&ndash;</dd>
<dt>Power-down mode</dt><dd id="show-mode">&ndash;</dd>
<dt>Output voltage</dt><dd id="show-voltage">&ndash;</dd>
<dt>Waveform</dt><dd id="show-waveform">none playing</dd>
</dl>
<form method="post" action="/set" data-field="output" id="stop" hidden>
<input type="hidden" id="output" name="output" value="off">
<button type="submit">Stop the waveform</button>
</form>
<p id="lock" hidden>A VXI-11 client holds the lock: changes are refused until it lets go.</p>
<form method="post" action="/set" data-field="device">
<label for="device">Device</label>
<select id="device" name="device"></select>
<button type="submit">Set device</button>
</form>
<form method="post" action="/set" data-field="code">
<label for="code">Code (decimal or 0x hex)</label>
<input id="code" name="code" autocomplete="off" spellcheck="false" size="10">
<button type="submit">Set code</button>
</form>
<form method="post" action="/set" data-field="mode">
<label for="mode">Power-down mode</label>
<select id="mode" name="mode"></select>
<button type="submit">Set mode</button>
</form>
<form method="post" action="/set" data-field="reference">
<label for="reference">Reference (V)</label>
<input id="reference" name="reference" inputmode="decimal" autocomplete="off" size="10">
<button type="submit">Set reference</button>
</form>
<form method="post" action="/set" data-field="voltage">
<label for="voltage">Output voltage (V)</label>
<input id="voltage" name="voltage" inputmode="decimal" autocomplete="off" size="10">
<button type="submit">Set voltage</button>
</form>
<p id="errors" role="alert"></p>
</main>
<footer id="interfaces"></footer>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
let filled = false;
function text(id, value) { $(id).textContent = value; }
function fill(select, items) {
  if (select.options.length) return;
  for (const [value, label] of items) select.add(new Option(label, value));
}
function show(state) {
  const [maker, model, serial, firmware] = state.identity.split(",");
  text("identity", maker + " " + model + " \u00b7 serial " + serial + " \u00b7 firmware " + firmware);
  text("show-device", state.device + " (" + state.bits + " data bits)");
  text("show-code", state.code + " (0x" + state.code.toString(16).toUpperCase() + ")");
  const mode = state.modes.find((m) => m.name === state.mode);
  text("show-mode", mode ? mode.caption : state.mode);
  // A powered-down output has no voltage of its own: the one its code gives is told beside.
  const volts = state.voltage === null ? null : state.voltage.toFixed(6) + " V";
  text("show-voltage", volts === null ? "unknown: set the reference"
    : state.mode === "normal" ? volts : "powered down (" + volts + " in Normal)");
  $("lock").hidden = !state.locked;
  const wave = state.waveform;
  const shapes = { SIN: "sine", SQU: "square", TRI: "triangle", RAMP: "ramp" };
  text("show-waveform", !wave ? "none playing"
    : (wave.shape === "USER" ? wave.samples + " samples" : shapes[wave.shape] + " " + wave.frequency + " Hz")
      + " at " + wave.rate + " samples/s, " + (wave.cycles === null ? "until stopped" : wave.cycles + " cycles"));
  $("stop").hidden = !wave;
  fill($("device"), state.devices.map((d) => [d, d]));
  fill($("mode"), state.modes.map((m) => [m.name, m.caption]));
  // A field being typed into is left alone; the others follow the board.
  const follow = (id, value) => { if (document.activeElement !== $(id) || !filled) $(id).value = value; };
  follow("device", state.device);
  follow("code", String(state.code));
  follow("mode", state.mode);
  if (state.reference !== null) follow("reference", String(state.reference));
  if (state.voltage !== null) follow("voltage", String(Number(state.voltage.toPrecision(9))));
  $("code").title = "0 to " + state.lastCode;
  if (state.interfaces) $("interfaces").textContent = "VISA: " + state.interfaces.join(" \u00b7 ");
  filled = true;
}
async function refresh() {
  const response = await fetch("/state", { headers: { Accept: "application/json" } });
  show(await response.json());
}
for (const form of document.querySelectorAll("form[data-field]")) {
  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    const field = form.dataset.field;
    const body = new URLSearchParams({ [field]: $(field).value });
    try {
      const response = await fetch("/set", { method: "POST", body, headers: { Accept: "application/json" } });
      const answer = await response.json();
      $("errors").textContent = answer.errors.map((e) => e.code + " " + e.text).join("; ");
      if (answer.state) show(answer.state);
    } catch (error) {
      $("errors").textContent = "No answer from the instrument: " + error;
    }
  });
}
const events = new EventSource("/events");
events.onmessage = (event) => show(JSON.parse(event.data));
refresh();
</script>
</body>
</html>
)html";

}  // namespace kt::remote::web
