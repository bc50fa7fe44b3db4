"""The result windows of a run as one HTML page for QGIS's results viewer.

A window comes as quilta prints it with --json: caption, layer, the class
list (columns and rows) and the landscape values with their labels and units,
all texts exactly as the window shows them.
"""

import html
import os
from urllib.parse import quote

_STYLE = """
body { font-family: sans-serif; font-size: 10pt; }
h2 { font-size: 12pt; margin-bottom: 2pt; }
h3 { font-size: 10pt; margin: 10pt 0 2pt 0; }
table { border-collapse: collapse; }
th, td { border: 1px solid #bbb; padding: 2pt 6pt; }
th { background: #eee; text-align: left; }
td.number { text-align: right; }
p.warning { color: #a00; }
"""


def _text(value):
    """A window text in HTML: its line breaks (CR LF) kept."""
    lines = str(value).replace('\r\n', '\n').replace('\r', '\n').split('\n')
    return '<br>'.join(html.escape(line) for line in lines)


def _window(window):
    out = ['<h2>{}</h2>'.format(_text(window.get('caption', ''))),
           '<p>Layer: {}</p>'.format(_text(window.get('layer', '')))]
    columns = window.get('columns') or []
    rows = window.get('rows') or []
    out.append('<h3>Class level</h3><table><tr>{}</tr>'.format(
        ''.join('<th>{}</th>'.format(_text(c)) for c in columns)))
    for row in rows:
        # The class column reads as text, the value columns line up on the right.
        cells = ['<td{}>{}</td>'.format(' class="number"' if i else '', _text(c)) for i, c in enumerate(row)]
        out.append('<tr>{}</tr>'.format(''.join(cells)))
    out.append('</table>')
    landscape = window.get('landscape') or []
    if landscape:
        out.append('<h3>Landscape level</h3><table>')
        for value in landscape:
            if not value.get('label'):
                if value.get('text'):
                    out.append('<tr><td colspan="2">{}</td></tr>'.format(_text(value['text'])))
                continue
            shown = value.get('text', '')
            if value.get('unit'):
                shown += ' ' + value['unit']
            out.append('<tr><th>{}</th><td class="number">{}</td></tr>'.format(_text(value['label']), _text(shown)))
        out.append('</table>')
    if window.get('warning'):
        out.append('<p class="warning">{}</p>'.format(_text(window['warning'])))
    return '\n'.join(out)


def page(windows, reports=()):
    """The HTML page of `windows` (the JSON objects of a run), with links to
    the report files `reports` saved by the run."""
    body = [_window(w) for w in windows]
    if reports:
        links = ['<li><a href="file://{}">{}</a></li>'.format(quote(os.path.abspath(r)), html.escape(os.path.basename(r)))
                 for r in reports]
        body.append('<h3>Reports</h3><ul>{}</ul>'.format(''.join(links)))
    return ('<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>Quilta</title><style>{}</style></head>\n'
            '<body>\n{}\n</body></html>\n').format(_STYLE, '\n'.join(body))
