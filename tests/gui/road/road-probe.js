// Test-only companion of the reference page for the whole-road test. The test serves a copy of
// page/ with this script added, so the product page itself stays as it ships. It forwards what
// the page is told, and where its keyboard focus goes, as usage events: the demo service writes
// them to its events file, which is all the test can read of the page's side.
//   seen:<status_text>   each "dnld" and "close" notice (dnld_start, dnld_finished, ...)
//   seen:dl_progress     the first progress notice only
//   seen:last_progress:<dl_now>/<dl_total>   the figures of the last progress notice, sent
//                        when the finished notice arrives, just before seen:dnld_finished: the
//                        host reports events one at a time in order, so once the service has
//                        the finished notice it has these figures too (sent after it, they
//                        were once still on their way when the test looked)
//   focus:<element id>   an element of the page took the focus
(() => {
  'use strict';
  const webview = window.chrome && window.chrome.webview;
  if (!webview) return;
  const report = (code) =>
    webview.postMessage(JSON.stringify({ msg_type: 'post_data', msg_data: { event_id: code } }));

  let lastProgress = null;
  webview.addEventListener('message', (event) => {
    let notice = event.data;
    if (typeof notice === 'string') {
      try { notice = JSON.parse(notice); } catch { return; }
    }
    if (!notice || typeof notice !== 'object') return;
    if (notice.msg_type === 'dl_progress') {
      if (lastProgress === null) report('seen:dl_progress');
      lastProgress = notice;
      return;
    }
    if (typeof notice.status_text !== 'string') return;
    if (notice.status_text === 'dnld_finished' && lastProgress !== null) {
      report(`seen:last_progress:${lastProgress.dl_now}/${lastProgress.dl_total}`);
    }
    report(`seen:${notice.status_text}`);
  });

  document.addEventListener('focusin', (event) => {
    if (event.target && event.target.id) report(`focus:${event.target.id}`);
  });
})();
