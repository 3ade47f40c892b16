#!/usr/bin/env python3
"""Writes the SVG sources of the instruction pictures and the icon into src/.

The board, the connector and the back of the display are each drawn by one
function, so the pictures that share them differ only in switch settings and
labels. Standard library only.
"""

import pathlib

FONT = "WenQuanYi Micro Hei"
RED_LABEL = "#d81e1e"

# Jumper patterns of the display's four jumpers (J1..J4), 1 = cap fitted.
# UPDATE is also the setting shown on the main dialog's picture.
MODES = [
    ("NORMAL", (1, 1, 0, 0)),
    ("UPDATE", (0, 0, 1, 1)),
    ("TEST", (1, 0, 1, 0)),
    ("DEMO", (0, 1, 0, 1)),
    ("ECO", (1, 0, 0, 0)),
    ("SPORT", (0, 1, 0, 0)),
    ("NIGHT", (0, 0, 1, 0)),
    ("RESET", (1, 1, 1, 1)),
]
UPDATE_PATTERN = dict(MODES)["UPDATE"]

# Wire colours in pin order 1..4, the same on the board and on the close-ups.
WIRES = [
    ("#d62828", "#8e1414", "#f07a7a"),  # red
    ("#f2c200", "#a88400", "#fde58a"),  # yellow
    ("#2e9e4a", "#1b6630", "#86d69b"),  # green
    ("#2a2a2a", "#0c0c0c", "#6a6a6a"),  # black
]


def svg(width, height, body, defs=""):
    return (
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        f'viewBox="0 0 {width} {height}">\n'
        f"<defs>{defs}</defs>\n"
        f'<rect width="{width}" height="{height}" fill="#ffffff"/>\n'
        f"{body}</svg>\n"
    )


def text(x, y, s, size, fill="#222222", weight="normal", anchor="start"):
    return (
        f'<text x="{x}" y="{y}" font-family="{FONT}" font-size="{size}" '
        f'font-weight="{weight}" fill="{fill}" text-anchor="{anchor}">{s}</text>\n'
    )


SHADOW_DEFS = (
    '<filter id="shadow" x="-20%" y="-20%" width="140%" height="150%">'
    '<feGaussianBlur stdDeviation="4"/></filter>'
)

# ---------------------------------------------------------------- the display

BACK_DEFS = (
    '<linearGradient id="case" x1="0" y1="0" x2="0" y2="1">'
    '<stop offset="0" stop-color="#51555b"/><stop offset="1" stop-color="#24262a"/>'
    "</linearGradient>"
    '<linearGradient id="window" x1="0" y1="0" x2="0" y2="1">'
    '<stop offset="0" stop-color="#23844a"/><stop offset="1" stop-color="#16613a"/>'
    "</linearGradient>"
    '<linearGradient id="gold" x1="0" y1="0" x2="1" y2="1">'
    '<stop offset="0" stop-color="#f6e08a"/><stop offset="1" stop-color="#b8902a"/>'
    "</linearGradient>"
    '<linearGradient id="cap" x1="0" y1="0" x2="1" y2="0">'
    '<stop offset="0" stop-color="#ffd84a"/><stop offset="1" stop-color="#d9a514"/>'
    "</linearGradient>" + SHADOW_DEFS
)

JUMPER_X = [42.5, 67.5, 92.5, 117.5]  # header centres, in the 160 x 130 drawing
CAP_TOP, CAP_HEIGHT = 25, 36


def display_back(pattern, with_names):
    """The back of the display, 160 x 130 units, with its four jumpers set to pattern."""
    out = [
        '<rect x="3" y="5" width="160" height="130" rx="10" fill="#000" opacity="0.35" filter="url(#shadow)"/>\n',
        '<rect x="0" y="0" width="160" height="130" rx="10" fill="url(#case)" stroke="#141517" stroke-width="1.5"/>\n',
        '<rect x="5" y="5" width="150" height="120" rx="7" fill="none" stroke="#6a6e75" stroke-width="0.8"/>\n',
    ]
    for cx, cy in ((13, 13), (147, 13), (13, 117), (147, 117)):
        out.append(f'<circle cx="{cx}" cy="{cy}" r="4.2" fill="#18191b" stroke="#777b82" stroke-width="0.8"/>\n')
        out.append(f'<path d="M{cx - 2.4} {cy}h4.8M{cx} {cy - 2.4}v4.8" stroke="#8a8e95" stroke-width="1"/>\n')
    # The recess that shows the jumper row.
    out.append('<rect x="28" y="18" width="104" height="60" rx="3" fill="#111214"/>\n')
    out.append('<rect x="30" y="20" width="100" height="56" rx="2" fill="url(#window)"/>\n')
    for i, (cx, fitted) in enumerate(zip(JUMPER_X, pattern)):
        out.append(f'<rect x="{cx - 6}" y="27" width="12" height="32" rx="1" fill="#121212"/>\n')
        for py in (35, 51):
            out.append(
                f'<rect x="{cx - 2.5}" y="{py - 2.5}" width="5" height="5" fill="url(#gold)" '
                f'stroke="#7a5c12" stroke-width="0.5"/>\n'
            )
        if fitted:
            out.append(
                f'<rect x="{cx - 7.5}" y="{CAP_TOP}" width="15" height="{CAP_HEIGHT}" rx="2" '
                f'fill="url(#cap)" stroke="#8a6a08" stroke-width="1"/>\n'
            )
            out.append(f'<rect x="{cx - 4}" y="29" width="8" height="28" rx="1" fill="none" stroke="#b88a0c" stroke-width="0.8"/>\n')
            out.append(f'<path d="M{cx - 5.5} 27.5h11" stroke="#fff3b0" stroke-width="1"/>\n')
        if with_names:
            out.append(text(cx, 72, f"J{i + 1}", 8, fill="#ffffff", anchor="middle"))
    # Cable socket and vents along the lower edge.
    out.append('<rect x="58" y="90" width="44" height="22" rx="2" fill="#141516" stroke="#5c6067" stroke-width="0.8"/>\n')
    for hx in (66.5, 75.5, 84.5, 93.5):
        out.append(f'<circle cx="{hx}" cy="101" r="2.2" fill="url(#gold)"/>\n')
    for vy in (91, 99, 107):
        for vx in (16, 114):
            out.append(f'<rect x="{vx}" y="{vy}" width="30" height="3.5" rx="1.7" fill="#151618"/>\n')
    return "".join(out)


def picture_135():
    width, height, cols = 294, 236, 4
    cell_w, cell_h = width / cols, height / 2
    scale = 0.41
    body = []
    for n, (word, pattern) in enumerate(MODES):
        x0 = (n % cols) * cell_w
        y0 = (n // cols) * cell_h
        body.append(
            f'<rect x="{x0 + 2:.1f}" y="{y0 + 2:.1f}" width="{cell_w - 4:.1f}" height="{cell_h - 4:.1f}" '
            f'rx="4" fill="none" stroke="#d6d6d6"/>\n'
        )
        bx = x0 + (cell_w - 160 * scale) / 2
        by = y0 + 22
        body.append(f'<g transform="translate({bx:.2f} {by:.2f}) scale({scale})">{display_back(pattern, False)}</g>\n')
        body.append(text(f"{x0 + cell_w / 2:.1f}", f"{y0 + 95:.1f}", word, 13, fill=RED_LABEL, weight="bold", anchor="middle"))
    return svg(width, height, "".join(body), BACK_DEFS)


ARROW_DEFS = (
    '<marker id="head" viewBox="0 0 10 10" refX="8" refY="5" markerWidth="4" markerHeight="4" '
    'orient="auto-start-reverse" markerUnits="strokeWidth">'
    f'<path d="M0 0L10 5L0 10z" fill="{RED_LABEL}"/></marker>'
)


def arrow(start, ctrl, tip):
    return (
        f'<path d="M{start[0]:.1f} {start[1]:.1f}Q{ctrl[0]:.1f} {ctrl[1]:.1f} {tip[0]:.1f} {tip[1]:.1f}" '
        f'fill="none" stroke="{RED_LABEL}" stroke-width="3" stroke-linecap="round" marker-end="url(#head)"/>\n'
    )


def picture_146():
    width, height = 497, 200
    scale, bx, by = 1.38, 22, 8

    def at(x, y):
        return bx + x * scale, by + y * scale

    body = [f'<g transform="translate({bx} {by}) scale({scale})">{display_back(UPDATE_PATTERN, True)}</g>\n']
    # Red frame round the fitted caps, then arrows from the word to each cap.
    fitted = [x for x, on in zip(JUMPER_X, UPDATE_PATTERN) if on]
    left, top = at(min(fitted) - 11, CAP_TOP - 4)
    right, bottom = at(max(fitted) + 11, CAP_TOP + CAP_HEIGHT + 4)
    body.append(
        f'<rect x="{left:.1f}" y="{top:.1f}" width="{right - left:.1f}" height="{bottom - top:.1f}" rx="5" '
        f'fill="none" stroke="{RED_LABEL}" stroke-width="2.5"/>\n'
    )
    word_x, word_y = 318, 112
    body.append(text(word_x, word_y, "UPDATE", 40, fill=RED_LABEL, weight="bold"))
    body.append(text(word_x + 2, word_y + 28, "J3 + J4", 18, fill=RED_LABEL, weight="bold"))
    for n, cx in enumerate(fitted):
        tip_x, tip_y = at(cx, CAP_TOP - 5 if n == 0 else CAP_TOP + CAP_HEIGHT / 2)
        if n == 0:
            # Over the top of the neighbour, to land on the first cap from above.
            start, ctrl = (word_x + 16, word_y - 42), (tip_x + 60, tip_y - 38)
        else:
            tip_x += 12 * scale
            start, ctrl = (word_x - 6, word_y - 18), (tip_x + 50, tip_y + 20)
        body.append(arrow(start, ctrl, (tip_x, tip_y)))
    return svg(width, height, "".join(body), BACK_DEFS + ARROW_DEFS)


# ------------------------------------------------------------- adapter board

BOARD_DEFS = (
    '<linearGradient id="pcb" x1="0" y1="0" x2="1" y2="1">'
    '<stop offset="0" stop-color="#33a059"/><stop offset="1" stop-color="#1b6a37"/>'
    "</linearGradient>"
    '<linearGradient id="dip" x1="0" y1="0" x2="0" y2="1">'
    '<stop offset="0" stop-color="#ef4a3c"/><stop offset="1" stop-color="#b41f18"/>'
    "</linearGradient>"
    '<linearGradient id="knob" x1="0" y1="0" x2="0" y2="1">'
    '<stop offset="0" stop-color="#ffffff"/><stop offset="1" stop-color="#c9c9c9"/>'
    "</linearGradient>"
    '<linearGradient id="housing" x1="0" y1="0" x2="1" y2="1">'
    '<stop offset="0" stop-color="#fbf8ef"/><stop offset="1" stop-color="#d5cfbd"/>'
    "</linearGradient>"
    '<linearGradient id="tin" x1="0" y1="0" x2="0" y2="1">'
    '<stop offset="0" stop-color="#f4f4f4"/><stop offset="1" stop-color="#8d8d8d"/>'
    "</linearGradient>"
    '<linearGradient id="chip" x1="0" y1="0" x2="0" y2="1">'
    '<stop offset="0" stop-color="#3a3a3a"/><stop offset="1" stop-color="#141414"/>'
    "</linearGradient>" + SHADOW_DEFS
)


def wire(path, colours, width):
    main, dark, light = colours
    return (
        f'<path d="{path}" fill="none" stroke="{dark}" stroke-width="{width + 2}" stroke-linecap="round"/>\n'
        f'<path d="{path}" fill="none" stroke="{main}" stroke-width="{width}" stroke-linecap="round"/>\n'
        f'<path d="{path}" fill="none" stroke="{light}" stroke-width="{width / 4:.2f}" '
        f'stroke-linecap="round" opacity="0.8" transform="translate(-{width / 5:.2f} -{width / 5:.2f})"/>\n'
    )


def dip_switch(x, y, on):
    """A red four-way DIP switch; a knob pushed towards the printed ON is on."""
    out = [
        f'<rect x="{x}" y="{y}" width="82" height="52" rx="2.5" fill="url(#dip)" stroke="#6e0e0a" stroke-width="1"/>\n',
        f'<path d="M{x + 8} {y + 11}v-6M{x + 5.5} {y + 7.5}l2.5-3l2.5 3" fill="none" stroke="#ffffff" stroke-width="1.2"/>\n',
        text(x + 13, y + 11, "ON", 9, fill="#ffffff", weight="bold"),
    ]
    for i, is_on in enumerate(on):
        sx = x + 9 + i * 18
        out.append(f'<rect x="{sx}" y="{y + 14}" width="12" height="26" rx="1" fill="#3b0906"/>\n')
        ky = y + 14.5 if is_on else y + 27.5
        out.append(f'<rect x="{sx + 0.5}" y="{ky}" width="11" height="12" rx="1" fill="url(#knob)" stroke="#8a8a8a" stroke-width="0.5"/>\n')
        out.append(f'<path d="M{sx + 2} {ky + 4}h7M{sx + 2} {ky + 6.5}h7M{sx + 2} {ky + 9}h7" stroke="#a8a8a8" stroke-width="0.7"/>\n')
        out.append(text(sx + 6, y + 50, str(i + 1), 9, fill="#ffffff", weight="bold", anchor="middle"))
    return "".join(out)


def adapter_board(on):
    """The adapter board, drawn in a 232 x 236 area; on[i] is DIP switch i+1."""
    out = [
        '<rect x="34" y="32" width="162" height="124" rx="7" fill="#000" opacity="0.3" filter="url(#shadow)"/>\n',
    ]
    # Bent tinned pins leaving the left edge, before the board so it covers their roots.
    for n in range(4):
        py = 62 + n * 20
        out.append(f'<path d="M40 {py}H22l-12 13" fill="none" stroke="#6d6d6d" stroke-width="4.2" stroke-linecap="round" stroke-linejoin="round"/>\n')
        out.append(f'<path d="M40 {py}H22l-12 13" fill="none" stroke="url(#tin)" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"/>\n')
        out.append(f'<path d="M38 {py - 0.8}H22.5" stroke="#ffffff" stroke-width="0.8" opacity="0.8"/>\n')
    out.append('<rect x="30" y="26" width="162" height="124" rx="6" fill="url(#pcb)" stroke="#124a24" stroke-width="1.2"/>\n')
    for hx, hy in ((39, 35), (183, 35), (39, 141), (183, 141)):
        out.append(f'<circle cx="{hx}" cy="{hy}" r="4.5" fill="#d9b25e"/><circle cx="{hx}" cy="{hy}" r="2.6" fill="#ffffff"/>\n')
    for n in range(4):
        py = 62 + n * 20
        out.append(f'<circle cx="37" cy="{py}" r="4" fill="url(#tin)" stroke="#7d7d7d" stroke-width="0.6"/>\n')
    # Copper traces under the solder mask.
    traces = [
        "M41 62H58L66 70V96",
        "M41 82H56",
        "M41 102H56",
        "M41 122H60L66 116V112",
        "M100 96H108L116 88V80",
        "M100 104H140L150 114V126",
        "M100 108H128L136 116V126",
        "M82 118V136H122V128",
    ]
    for d in traces:
        out.append(f'<path d="{d}" fill="none" stroke="#4fc078" stroke-width="2" opacity="0.55" stroke-linejoin="round"/>\n')
    # Chip, crystal, resistors and an LED.
    out.append('<rect x="60" y="90" width="40" height="24" rx="1.5" fill="url(#chip)"/>\n')
    for n in range(6):
        lx = 64 + n * 6
        out.append(f'<rect x="{lx}" y="86" width="2.6" height="4" fill="#c8c8c8"/><rect x="{lx}" y="114" width="2.6" height="4" fill="#c8c8c8"/>\n')
    out.append('<circle cx="65" cy="95" r="1.4" fill="#5a5a5a"/>\n')
    out.append('<rect x="60" y="46" width="22" height="10" rx="5" fill="url(#tin)" stroke="#7d7d7d" stroke-width="0.6"/>\n')
    for rx, ry in ((60, 64), (60, 74)):
        out.append(
            f'<rect x="{rx}" y="{ry}" width="14" height="6" fill="#1e1e1e"/>'
            f'<rect x="{rx}" y="{ry}" width="3" height="6" fill="#d0d0d0"/><rect x="{rx + 11}" y="{ry}" width="3" height="6" fill="#d0d0d0"/>\n'
        )
    out.append('<rect x="86" y="122" width="8" height="6" rx="1" fill="#e6f7e6" stroke="#9ab89a" stroke-width="0.5"/><rect x="88" y="123" width="4" height="4" fill="#5fd35f"/>\n')
    out.append(dip_switch(92, 32, on))
    out.append(text(150, 96, "SW1", 8, fill="#eaf5ea"))
    out.append(text(62, 128, "U1", 8, fill="#eaf5ea"))
    # Four-pin connector on the lower edge, its wires leaving the frame.
    out.append('<rect x="118" y="126" width="64" height="26" rx="2" fill="url(#housing)" stroke="#958e78" stroke-width="1"/>\n')
    out.append('<path d="M121 129h58" stroke="#ffffff" stroke-width="1.2" opacity="0.8"/>\n')
    for n, colours in enumerate(WIRES):
        px = 127 + n * 15.3
        out.append(f'<rect x="{px - 4.5}" y="139" width="9" height="12" rx="1" fill="#5b5548"/>\n')
        end_x = 112 + n * 26
        out.append(wire(f"M{px:.1f} 148C{px:.1f} 190 {end_x} 190 {end_x} 250", colours, 7))
    out.append('<path d="M118 126l4 -4h56l4 4" fill="#ece6d4" stroke="#958e78" stroke-width="1"/>\n')
    out.append(text(104, 147, "J1", 8, fill="#eaf5ea"))
    return "".join(out)


def board_picture(width, on):
    shift = (width - 232) / 2 + 6
    return svg(width, 236, f'<g transform="translate({shift:.1f} 0)">{adapter_board(on)}</g>\n', BOARD_DEFS)


# ------------------------------------------------------ connector close-up

def connector_closeup(labels):
    """Close-up of the four-pin connector, 256 x 236; labels in pin order 1..4."""
    out = [
        '<rect x="-20" y="14" width="62" height="208" rx="4" fill="url(#pcb)" stroke="#124a24" stroke-width="1.2"/>\n',
        '<path d="M-4 40H20M-4 196H20" stroke="#4fc078" stroke-width="3" opacity="0.55"/>\n',
        '<rect x="30" y="58" width="56" height="124" rx="4" fill="#000" opacity="0.3" filter="url(#shadow)"/>\n',
        '<rect x="24" y="52" width="56" height="128" rx="4" fill="url(#housing)" stroke="#958e78" stroke-width="1.2"/>\n',
        '<path d="M28 56V176" stroke="#ffffff" stroke-width="1.5" opacity="0.9"/>\n',
        '<path d="M80 70h6v92h-6" fill="#e4ddc8" stroke="#958e78" stroke-width="1"/>\n',
        '<path d="M32 60l8 0l-4 6z" fill="#958e78"/>\n',
    ]
    pitch, first = 30, 71
    for n, (colours, label) in enumerate(zip(WIRES, labels)):
        py = first + n * pitch
        out.append(f'<rect x="62" y="{py - 8}" width="20" height="16" rx="2" fill="#5b5548"/>\n')
        out.append(text(44, py + 5, str(n + 1), 13, fill="#8a836c", anchor="middle"))
        end_y = 38 + n * 54
        out.append(wire(f"M76 {py}C112 {py} 104 {end_y} 140 {end_y}H150", colours, 11))
        out.append(f'<path d="M152 {end_y}H160" stroke="#b5762e" stroke-width="6" stroke-linecap="round"/>\n')
        out.append(f'<path d="M152 {end_y - 1.2}H160" stroke="#f0b070" stroke-width="1.5"/>\n')
        out.append(text(168, end_y + 6, label, 16))
    return "".join(out)


def connector_picture(labels):
    return svg(256, 236, connector_closeup(labels), BOARD_DEFS)


# -------------------------------------------------------------------- icon

def icon():
    defs = (
        '<linearGradient id="screen" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#5fd4ff"/><stop offset="1" stop-color="#1572c4"/>'
        "</linearGradient>"
        '<linearGradient id="badge" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#4cc85e"/><stop offset="1" stop-color="#1f8a34"/>'
        "</linearGradient>"
    )
    body = (
        '<rect x="1.5" y="6" width="45" height="30" rx="5" fill="#2b2f36" stroke="#15171a" stroke-width="1.5"/>\n'
        '<rect x="6" y="10.5" width="36" height="21" rx="2" fill="url(#screen)"/>\n'
        '<path d="M10 16h12M10 21h18M10 26h9" stroke="#e9f8ff" stroke-width="2.6" stroke-linecap="round"/>\n'
        '<rect x="16" y="36" width="16" height="4" fill="#2b2f36"/>\n'
        '<circle cx="35" cy="35" r="12" fill="url(#badge)" stroke="#ffffff" stroke-width="2"/>\n'
        '<path d="M35 27v12M29.5 34l5.5 6 5.5-6" fill="none" stroke="#ffffff" stroke-width="3.6" '
        'stroke-linecap="round" stroke-linejoin="round"/>\n'
    )
    return (
        '<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">\n'
        f"<defs>{defs}</defs>\n{body}</svg>\n"
    )


def main():
    out = pathlib.Path(__file__).resolve().parent / "src"
    out.mkdir(exist_ok=True)
    pictures = {
        "134": svg(207, 236, ""),
        "135": picture_135(),
        "139": board_picture(273, (0, 0, 1, 1)),
        "140": connector_picture(["+12V", "数据线", "辅助数据线", "地线"]),
        "141": board_picture(265, (0, 1, 0, 0)),
        "142": board_picture(252, (1, 0, 0, 1)),
        "143": connector_picture(["+12V", "喷油嘴线圈", "车速传感器", "地线"]),
        "144": connector_picture(["+12V", "数据线", "车速传感器", "地线"]),
        "146": picture_146(),
        "icon": icon(),
    }
    for name, content in pictures.items():
        (out / f"{name}.svg").write_text(content, encoding="utf-8")


if __name__ == "__main__":
    main()
