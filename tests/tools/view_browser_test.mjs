// The live view in a real browser: Debian's Chromium, driven by
// playwright-core (no browser of its own is downloaded). A simulated session
// with faulted sensors: the page loads from the tool alone, shows every
// enabled sensor, its traces move, it is updated at least 10 times a
// second, and its quality table flags exactly the faulted sensors.
//
//   node view_browser_test.mjs --tool quelto-capture --modules DIR [--screenshot FILE]
import { spawn } from "node:child_process";
import { createRequire } from "node:module";
import { join, resolve } from "node:path";
import assert from "node:assert/strict";

const args = Object.fromEntries(process.argv.slice(2).reduce((pairs, a, i, all) =>
  (a.startsWith("--") ? pairs.concat([[a.slice(2), all[i + 1]]]) : pairs), []));
const { chromium } = createRequire(join(resolve(args.modules), "index.js"))("playwright-core");

const FAULTS = "3:hum50,7:loose,12:off,20:clip,5:battery,28:motion";
const FAULTED = ["EMG03", "EMG05", "EMG07", "EMG12", "EMG20", "EMG28"];
const SENSORS = 36;

function startTool() {
  const tool = spawn(args.tool, ["--view", "127.0.0.1:0", "--seed", "4", "-d", "120"], {
    env: { ...process.env, QUELTO_SIM_FAULTS: FAULTS }, stdio: ["ignore", "pipe", "pipe"],
  });
  let err = "";
  const url = new Promise((resolve, reject) => {
    tool.stderr.on("data", (d) => {
      err += d;
      const m = err.match(/live view at (http:\/\/\S+)/);
      if (m) resolve(m[1]);
    });
    tool.on("exit", (code) => reject(new Error(`quelto-capture ended (${code}): ${err}`)));
    setTimeout(() => reject(new Error(`no address within 20 s: ${err}`)), 20000);
  });
  return { tool, url };
}

async function canvasImage(page, selector) {
  return page.$eval(selector, (c) => c.toDataURL());
}

async function main() {
  const { tool, url } = startTool();
  const exited = new Promise((resolve) => tool.on("exit", (code, signal) => resolve({ code, signal })));
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"], headless: true });
  try {
    const address = await url;
    const page = await browser.newPage({ viewport: { width: 1400, height: 1800 } });
    const foreign = [];
    page.on("request", (r) => { if (!r.url().startsWith(address) && !r.url().startsWith(address.replace("http", "ws"))) foreign.push(r.url()); });
    const errors = [];
    page.on("pageerror", (e) => errors.push(String(e)));
    await page.goto(address);

    // Every enabled sensor: a row of the table, a tile of the grid, a box to pick it.
    await page.waitForFunction((n) => document.querySelectorAll("#quality tbody tr").length === n, SENSORS, { timeout: 20000 });
    const labels = await page.$$eval("#grid .tile", (tiles) => tiles.map((t) => t.dataset.label));
    assert.deepEqual(labels, Array.from({ length: SENSORS }, (_, i) => `EMG${String(i + 1).padStart(2, "0")}`));
    assert.equal(await page.$$eval("#picker input", (b) => b.length), SENSORS);

    // The table names exactly the faulted sensors, by their verdict as text.
    const flagged = () => page.$$eval("#quality tbody tr", (rows) =>
      rows.filter((r) => r.querySelector("td.verdict").textContent !== "good").map((r) => r.dataset.label));
    await page.waitForFunction((want) => {
      const rows = [...document.querySelectorAll("#quality tbody tr")];
      const notGood = rows.filter((r) => r.querySelector("td.verdict").textContent !== "good").map((r) => r.dataset.label);
      return rows.every((r) => !r.textContent.includes("too little data")) && JSON.stringify(notGood) === JSON.stringify(want);
    }, FAULTED, { timeout: 30000 }).catch(async () => assert.fail(`flagged ${await flagged()}`));
    const reason = (label) => page.$eval(`#quality tr[data-label="${label}"] td.reason`, (td) => td.textContent);
    assert.match(await reason("EMG03"), /mains 50 Hz/);
    assert.match(await reason("EMG12"), /not connected/);
    assert.match(await reason("EMG05"), /battery/);
    assert.match(await page.textContent("#quality-summary"), /EMG07 bad/);

    // The traces move: the first trace and a tile of the grid change within a second.
    const trace = "#traces .trace canvas", tile = '#grid .tile[data-label="EMG01"] canvas';
    const before = [await canvasImage(page, trace), await canvasImage(page, tile), await page.textContent("#time")];
    await page.waitForTimeout(1000);
    const after = [await canvasImage(page, trace), await canvasImage(page, tile), await page.textContent("#time")];
    assert.notEqual(before[0], after[0], "the EMG trace did not change");
    assert.notEqual(before[1], after[1], "the envelope tile did not change");
    assert.notEqual(before[2], after[2], "the time did not advance");
    assert.equal(await page.textContent("#state"), "capturing");
    assert.equal(await page.textContent("#lost"), "0");
    assert.equal(await page.textContent("#recording"), "not recording");
    assert.match(await page.textContent("#battery"), /% \(EMG05\)/);
    // The accelerometer and the feet have their charts.
    assert.equal(await page.$$eval("#traces .trace", (t) => t.length), 8);
    assert.equal(await page.$$eval("#feet .trace", (t) => t.length), 1);

    // At least 10 updates a second (the page counts the frames of the last
    // 2 s), in an optimised build (--min-rate).
    const rate = parseFloat(await page.textContent("#rate"));
    assert.ok(rate > 0 && rate >= parseFloat(args["min-rate"] ?? "10"), `updates: ${rate}/s`);

    if (args.screenshot) await page.screenshot({ path: args.screenshot, fullPage: true });
    assert.deepEqual(foreign, [], "the page asked for something not served by the tool");
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
    tool.kill("SIGINT");
  }
  const { code } = await exited;
  assert.equal(code, 0, "quelto-capture did not end cleanly on Ctrl-C");
  console.log("live view in Chromium: passed");
}

main().catch((e) => { console.error(e); process.exit(1); });
