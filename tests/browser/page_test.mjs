// Tavmirok's page in a real browser: Debian's chromium, headless, driven over the DevTools
// protocol. Opens the page of a running windowless station and checks what a user sees while a
// sweep is received: the station card says "stepping", the live ionogram's columns grow, the
// scaled MOF appears when the sweep ends, and the card says "waiting" again. With --network it
// opens a collector's page instead and checks that its map of the network draws.
//
//   node page_test.mjs [--network] URL SCREENSHOT.png [SECONDS]
//
// Prints one line per check and "N passed, N failed"; exits non-zero when a check failed.
import puppeteer from "puppeteer-core";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const networkMode = process.argv[2] === "--network";
const [url, screenshot, secondsText] = process.argv.slice(networkMode ? 3 : 2);
const seconds = Number(secondsText || 90);
const profile = mkdtempSync(join(tmpdir(), "tavmirok-chromium-"));
let passed = 0;
let failed = 0;

function check(what, ok, detail = "") {
  console.log(`${ok ? "PASS" : "FAIL"}: ${what}${detail ? " (" + detail + ")" : ""}`);
  ok ? passed++ : failed++;
}

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  userDataDir: profile,
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 1000 });
  const pageErrors = [];
  page.on("pageerror", (e) => pageErrors.push(String(e)));
  // Script errors and refusals by the page's Content-Security-Policy show as console errors; a
  // failed request is judged by its response below.
  page.on("console", (m) => m.type() === "error" && !m.text().startsWith("Failed to load resource") &&
    pageErrors.push(m.text()));
  // A sounder without a sweep yet has no latest ionogram (404); any other failed request counts.
  page.on("response", (r) => r.status() >= 400 && !r.url().includes("/api/ionogram/latest") &&
    pageErrors.push(`${r.status()} ${r.url()}`));
  const started = Date.now();
  await page.goto(url, { waitUntil: "load" });
  check("page loads", true, `${Date.now() - started} ms`);

  if (networkMode) {
    // The collector's map: its paths counted, and on the canvas the coloured paths (pixels of a
    // saturated hue, which neither the sea nor the land has). The sweeps are published after the
    // page has loaded, so they reach it through the live stream.
    const deadline = Date.now() + seconds * 1000;
    let drawn = { paths: 0, coloured: 0 };
    // Until the paths are drawn, not merely counted: the first sweep may come alone.
    const isDrawn = (d) => d.paths > 0 && d.shown && d.coloured > 500;
    while (Date.now() < deadline && !isDrawn(drawn)) {
      await new Promise((r) => setTimeout(r, 250));
      drawn = await page.evaluate(() => {
        const canvas = document.getElementById("netmap");
        const pixels = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
        let coloured = 0;
        for (let i = 0; i < pixels.length; i += 4) {
          const max = Math.max(pixels[i], pixels[i + 1], pixels[i + 2]);
          const min = Math.min(pixels[i], pixels[i + 1], pixels[i + 2]);
          if (max > 120 && max - min > 100) coloured++;
        }
        return { paths: Number(canvas.dataset.paths), coloured, shown: canvas.offsetWidth > 0 };
      });
    }
    check("network map draws its paths", isDrawn(drawn),
      `${drawn.paths} paths, ${drawn.coloured} coloured pixels`);
    check("no script errors", pageErrors.length === 0, pageErrors.join(" | "));
    if (screenshot) await page.screenshot({ path: screenshot, fullPage: true });
  } else {
    // Watch the page as a user would, a few times a second, until the sweep has been scaled and
    // the station waits again.
    const seen = { activities: [], columns: [], mof: "", live: false };
    const deadline = Date.now() + seconds * 1000;
    while (Date.now() < deadline) {
      const now = await page.evaluate(() => ({
        activity: document.getElementById("activity").textContent,
        columns: Number(document.getElementById("ionogram").dataset.columns),
        mof: document.getElementById("mof").textContent,
        live: document.getElementById("link").textContent === "live",
      }));
      if (seen.activities.at(-1) !== now.activity) seen.activities.push(now.activity);
      if (now.activity === "stepping" && seen.columns.at(-1) !== now.columns) seen.columns.push(now.columns);
      seen.live ||= now.live;
      if (now.mof.startsWith("MOF")) seen.mof = now.mof;
      const steppedThenWaits = seen.activities.includes("stepping") && now.activity === "waiting";
      if (seen.mof && steppedThenWaits) break;
      await new Promise((r) => setTimeout(r, 250));
  }
  check("live stream connected", seen.live);
  const stepping = seen.activities.indexOf("stepping");
  check("station card says stepping, then waiting",
    stepping >= 0 && seen.activities.indexOf("waiting", stepping) > stepping, seen.activities.join(" > "));
  const growing = seen.columns.filter((n) => n > 0);
  check("ionogram columns grow during the sweep",
    growing.length >= 3 && growing.every((n, i) => i === 0 || n > growing[i - 1]), growing.join(","));
  check("scaled MOF shown when the sweep ends", seen.mof !== "", seen.mof);
  check("no script errors", pageErrors.length === 0, pageErrors.join(" | "));
  if (screenshot) await page.screenshot({ path: screenshot, fullPage: true });
  }
} finally {
  await browser.close();
  rmSync(profile, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
