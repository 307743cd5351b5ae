// The scope's graticule for the page: 10 divisions across the record and 8
// down each channel's range (-range..+range), as SCPI's :TIMebase:SCALe and
// :CHANnel<n>:SCALe count them, with the axis labels drawn here rather than
// by uPlot so that each one is measured: labels keep their sign, the axes are
// as wide as their widest label, and time labels are thinned (every 2nd or
// 5th division) where they would not fit. The boxes drawn are kept for the
// page's tests (ru3.labels()).
'use strict';

const scopeAxes = (() => {
  const DIVISIONS_X = 10, DIVISIONS_Y = 8;
  const FONT_PX = 12, GAP = 6;
  const font = (ratio) => `${FONT_PX * ratio}px system-ui, sans-serif`;
  const measurer = document.createElement('canvas').getContext('2d');

  // A tick label: four significant digits, trailing zeros dropped, an SI
  // prefix, and a real minus sign.
  function label(v, unit) {
    if (!isFinite(v)) return '';
    const a = Math.abs(v);
    if (a < 1e-12) return '0 ' + unit;
    const [scale, prefix] = a >= 1e6 ? [1e-6, 'M'] : a >= 1e3 ? [1e-3, 'k'] : a >= 1 ? [1, ''] : a >= 1e-3 ? [1e3, 'm'] : [1e6, 'µ'];
    const text = String(parseFloat((a * scale).toPrecision(4)));
    return (v < 0 ? '\u2212' : '') + text + ' ' + prefix + unit;
  }

  function width(text) {
    measurer.font = font(1);
    return measurer.measureText(text).width;
  }

  const splits = (lo, hi, n) => Array.from({ length: n + 1 }, (_, k) => lo + (hi - lo) * k / n);

  // Labels of a vertical axis for the range r.
  const voltLabels = (r) => splits(-r, r, DIVISIONS_Y).map((v) => label(v, 'V'));
  const axisSize = (r) => Math.ceil(Math.max(...voltLabels(r).map(width))) + 2 * GAP + 4;

  let boxes = [];

  // Draws the labels of all three axes; `span` is [t0, t1] of the record.
  function draw(u, span, ranges, colours) {
    const ctx = u.ctx, ratio = u.pxRatio || devicePixelRatio || 1;
    const { left, top, width: w, height: h } = u.bbox;
    ctx.save();
    ctx.font = font(ratio);
    boxes = [];
    const put = (axis, text, x, y, align, baseline) => {
      const tw = ctx.measureText(text).width, th = FONT_PX * ratio;
      const x0 = align === 'center' ? x - tw / 2 : align === 'right' ? x - tw : x;
      const y0 = baseline === 'middle' ? y - th / 2 : y;
      ctx.textAlign = 'left';
      ctx.textBaseline = 'top';
      ctx.fillText(text, x0, y0);
      boxes.push({ axis, text, x: x0 / ratio, y: y0 / ratio, w: tw / ratio, h: th / ratio });
    };
    // Time: every division labelled when the widest label fits in one,
    // else every 2nd or 5th.
    const times = splits(span[0], span[1], DIVISIONS_X);
    const texts = times.map((t) => label(t, 's'));
    ctx.font = font(ratio);
    const widest = Math.max(...texts.map((t) => ctx.measureText(t).width));
    const step = [1, 2, 5, 10].find((n) => (w / DIVISIONS_X) * n >= widest + 2 * GAP * ratio) || 10;
    ctx.fillStyle = '#aaa';
    times.forEach((t, k) => {
      if (k % step) return;
      let x = u.valToPos(t, 'x', true);
      const half = ctx.measureText(texts[k]).width / 2;
      x = Math.min(Math.max(x, half), u.ctx.canvas.width - half);  // the ends stay on the canvas
      put('x', texts[k], x, top + h + GAP * ratio, 'center', 'top');
    });
    // Volts: one label a division on each channel's side.
    [['v1', left - GAP * ratio, 'right'], ['v2', left + w + GAP * ratio, 'left']].forEach(([scale, x, align], i) => {
      ctx.fillStyle = colours[i];
      const r = ranges[i];
      splits(-r, r, DIVISIONS_Y).forEach((v) => {
        const y = Math.min(Math.max(u.valToPos(v, scale, true), top + FONT_PX * ratio / 2), top + h - FONT_PX * ratio / 2);
        put(scale, label(v, 'V'), x, y, align, 'middle');
      });
    });
    ctx.restore();
  }

  return {
    DIVISIONS_X, DIVISIONS_Y, label, splits, axisSize, draw,
    labels: () => boxes.map((b) => ({ ...b })),
  };
})();
