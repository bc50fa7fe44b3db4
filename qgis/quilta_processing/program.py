"""Finding the quilta program and running it for one algorithm.

Nothing here imports QGIS: a run reports through a feedback object that has
the methods of QgsProcessingFeedback used below (setProgress, setProgressText,
pushInfo, pushCommandInfo, reportError, isCanceled).

What quilta writes, and how a run reads it:
  stdout  with --json, one JSON object per result window and line;
  stderr  messages as "Title: text" (further lines of the text indented by two
          blanks), a failure's cause on a "cause: ..." line after its message,
          one line per operation ("area: completed (new fields: ...)"), usage
          errors as "quilta: ...", and with --progress json the progress lines
          {"progress": percent, "operation": ..., "step": ..., ...}.
Exit status 0: every operation completed; 1: refused, failed or cancelled;
2: usage error. SIGINT is the tool's Cancel button: the running operation
stops at its next cancel point and what was stored stays stored.
"""

import json
import os
import queue
import re
import shutil
import signal
import subprocess
import threading

PROGRAM_NAME = 'quilta'

# How quilta ends an operation on stderr.
_OUTCOME = re.compile(r'^([a-z0-9-]+): (completed|refused|failed|cancelled)\b')


class ProgramMissing(Exception):
    """The quilta program cannot be found or run."""


def plugin_folder():
    return os.path.dirname(os.path.abspath(__file__))


def _runnable(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def find_program(configured=''):
    """The quilta program to run: `configured` (the provider setting) when set,
    else quilta next to the plugin, else quilta on PATH.
    Raises ProgramMissing with what to do when there is none."""
    if configured:
        if _runnable(configured):
            return configured
        raise ProgramMissing(
            'The Quilta program "{}" named in the Processing options (Providers > Quilta > '
            'Quilta program) does not exist or cannot be run.'.format(configured))
    beside = os.path.join(plugin_folder(), PROGRAM_NAME)
    if _runnable(beside):
        return beside
    on_path = shutil.which(PROGRAM_NAME)
    if on_path:
        return on_path
    raise ProgramMissing(
        'The Quilta program "quilta" was not found: it is neither next to the plugin ({}) nor on PATH. '
        'Set its path in Settings > Options > Processing > Providers > Quilta > Quilta program, '
        'or install the plugin with scripts/install-qgis-plugin.sh.'.format(plugin_folder()))


def number_text(value):
    """A number as quilta reads it and names fields after it: no fraction for
    whole numbers (500, not 500.0), up to 15 significant digits."""
    return '%.15g' % value


class RunResult:
    def __init__(self):
        self.status = None
        self.cancelled = False
        self.windows = []        # the result windows, as quilta prints them with --json
        self.errors = []         # failures and refusals, with their cause lines
        self.outcomes = {}       # operation name -> completed, refused, failed or cancelled

    def failure(self):
        """What went wrong, for the exception that ends the algorithm; None
        when every operation completed."""
        if self.status == 0 or self.cancelled:
            return None
        summary = 'quilta ended with exit status {}'.format(self.status)
        return summary + (': ' + self.errors[-1].split('\n')[0] if self.errors else '')


class StderrReader:
    """Turns quilta's stderr, line by line, into feedback: progress lines into
    the progress bar, messages into the log, failures (a message with a cause
    line, a refusal, a usage error) into reportError."""

    def __init__(self, feedback, result):
        self._feedback = feedback
        self._result = result
        self._message = []   # the lines of the message being read
        self._failure = False
        self._step = None

    def line(self, text):
        text = text.rstrip('\r\n')
        if text.startswith('{"progress":'):
            self._end_message()
            self._progress(text)
        elif text.startswith('  ') and self._message:
            self._message.append(text)
        elif text.startswith('cause: ') and self._message:
            self._message.append(text)
            self._end_message(error=True)
        else:
            outcome = _OUTCOME.match(text)
            # The message just before a refusal is the reason.
            self._end_message(error=bool(outcome) and outcome.group(2) == 'refused')
            if outcome:
                self._result.outcomes[outcome.group(1)] = outcome.group(2)
                self._feedback.pushInfo(text)
            elif text:
                self._message = [text]
                # The program's own complaints (usage, a layer it cannot open) are failures.
                self._failure = text.startswith('quilta: ')

    def close(self):
        self._end_message()

    def _end_message(self, error=False):
        if not self._message:
            return
        text = '\n'.join(self._message)
        self._message = []
        if error or self._failure:
            self._result.errors.append(text)
            self._feedback.reportError(text)
        else:
            self._feedback.pushInfo(text)

    def _progress(self, text):
        try:
            update = json.loads(text)
            self._feedback.setProgress(float(update['progress']))
            step = (update.get('operation'), update.get('step'), update.get('steps'))
            if step != self._step and update.get('steps'):
                self._step = step
                self._feedback.setProgressText('{}: step {} of {}'.format(*step))
        except (ValueError, KeyError, TypeError):
            self._feedback.pushInfo(text)


def _pump(stream, lines):
    for line in iter(stream.readline, ''):
        lines.put(line)
    lines.put(None)


def run(command, feedback, cwd=None):
    """Runs quilta with `command` (program first), feeding its progress and
    messages into `feedback`. Cancelling the feedback sends SIGINT once; the
    run then ends at quilta's next cancel point. Returns a RunResult."""
    result = RunResult()
    feedback.pushCommandInfo(' '.join(_quoted(c) for c in command))
    try:
        proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                cwd=cwd, encoding='utf-8', errors='replace',
                                # Ctrl-C in the terminal QGIS runs in is not meant for the run.
                                start_new_session=True)
    except OSError as e:
        raise ProgramMissing('The Quilta program "{}" cannot be started: {}'.format(command[0], e))
    stderr_lines = queue.Queue()
    stdout_lines = []
    readers = [threading.Thread(target=_pump, args=(proc.stderr, stderr_lines), daemon=True),
               threading.Thread(target=lambda: stdout_lines.extend(iter(proc.stdout.readline, '')), daemon=True)]
    for t in readers:
        t.start()
    reader = StderrReader(feedback, result)
    interrupted = False
    ended = False
    while not ended:
        if not interrupted and feedback.isCanceled():
            interrupted = True
            proc.send_signal(signal.SIGINT)
            feedback.pushInfo('Cancelling: quilta stops at its next cancel point; what it stored stays stored.')
        try:
            line = stderr_lines.get(timeout=0.1)
        except queue.Empty:
            continue
        if line is None:
            ended = True
        else:
            reader.line(line)
    reader.close()
    result.status = proc.wait()
    for t in readers:
        t.join()
    proc.stdout.close()
    proc.stderr.close()
    # A cancel that came after the last cancel point leaves a completed run.
    result.cancelled = interrupted and result.status != 0
    for line in stdout_lines:
        line = line.strip()
        if line.startswith('{'):
            try:
                result.windows.append(json.loads(line))
            except ValueError:
                feedback.pushInfo(line)
        elif line:
            feedback.pushConsoleInfo(line)
    return result


def _quoted(arg):
    return arg if re.fullmatch(r'[\w@%+=:,./-]+', arg) else "'" + arg.replace("'", "'\\''") + "'"
