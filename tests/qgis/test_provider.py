"""Quilta's Processing provider in real QGIS without a display: every
algorithm against the quilta program on the same input, qgis_process on the
command line, failures, and a cancelled long run.

    python3 test_provider.py QUILTA QUILTA_GENLAND SOURCE_DIR
"""

import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

QUILTA, GENLAND, SOURCE = (os.path.abspath(a) for a in sys.argv[1:4])
del sys.argv[1:4]
WORK = tempfile.mkdtemp(prefix='quilta-qgis-')
# A throw-away profile: nothing of the user's QGIS is read or changed.
os.environ['QGIS_CUSTOM_CONFIG_PATH'] = os.path.join(WORK, 'profile')
os.environ['QT_QPA_PLATFORM'] = 'offscreen'

from qgis.core import (QgsApplication, QgsProcessingException, QgsProcessingFeedback, QgsProject,  # noqa: E402
                       QgsVectorLayer)

APP = QgsApplication([], False)
APP.initQgis()
sys.path.append(os.path.join(QgsApplication.pkgDataPath(), 'python', 'plugins'))
import processing  # noqa: E402
from processing.core.Processing import Processing  # noqa: E402
from processing.core.ProcessingConfig import ProcessingConfig  # noqa: E402

Processing.initialize()
sys.path.insert(0, os.path.join(SOURCE, 'qgis'))
from quilta_processing.plugin import QuiltaPlugin  # noqa: E402
from quilta_processing.settings import PROGRAM_SETTING  # noqa: E402

PLUGIN = QuiltaPlugin()
PLUGIN.initProcessing()
ProcessingConfig.setSettingValue(PROGRAM_SETTING, QUILTA)

SAMPLE = os.path.join(SOURCE, 'data', 'sample', 'olinda_elevation')


def copy_sample(folder):
    os.makedirs(folder)
    for f in glob.glob(SAMPLE + '.*'):
        shutil.copy(f, folder)
    return os.path.join(folder, 'olinda_elevation.shp')


def copy_layer(shp, folder):
    os.makedirs(folder)
    for f in glob.glob(shp[:-4] + '.*'):
        shutil.copy(f, folder)
    return os.path.join(folder, os.path.basename(shp))


def cli(*args, check=True):
    run = subprocess.run([QUILTA] + [str(a) for a in args], capture_output=True, text=True)
    if check and run.returncode != 0:
        raise AssertionError('quilta {} exited {}:\n{}'.format(args, run.returncode, run.stderr))
    return run


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def ogr_fields(shp):
    layer = QgsVectorLayer(shp, 'check', 'ogr')
    assert layer.isValid(), shp
    return layer.fields().names()


class Recorder(QgsProcessingFeedback):
    """Keeps what an algorithm reports; cancels itself once the progress
    passes `cancel_at` percent."""

    def __init__(self, cancel_at=None):
        super().__init__()
        self.errors, self.infos, self.progress = [], [], []
        self.cancel_at = cancel_at
        self.progressChanged.connect(self._on_progress)

    def _on_progress(self, value):
        self.progress.append(value)
        if self.cancel_at is not None and value >= self.cancel_at and not self.isCanceled():
            self.cancel()

    def reportError(self, error, fatalError=False):
        self.errors.append(error)
        super().reportError(error, fatalError)

    def pushInfo(self, info):
        self.infos.append(info)
        super().pushInfo(info)


# algorithm, layer to start from, its parameters beyond INPUT, and the same
# run as quilta's options after the operation.
CASES = [
    ('areaperimeter', 'sample', {}, []),
    ('nearestneighbour', 'sample', {'CLASS_FIELD': 'zone'}, ['--class-field', 'zone']),
    ('nearestneighbour', 'sample', {}, ['--no-class-field']),
    ('px92', 'prepared', {'CLASS_FIELD': 'zone', 'BUFFER': 500}, ['--class-field', 'zone', '--buffer', '500']),
    ('px94', 'prepared', {'CLASS_FIELD': 'band', 'CLASSES': '2,4', 'BUFFER': 750.5, 'SUFFIX': 'b'},
     ['--class-field', 'band', '--classes', '2,4', '--buffer', '750.5', '--suffix', 'b']),
    ('proximity', 'prepared', {'CLASS_FIELD': 'zone', 'BUFFER': 500}, ['--class-field', 'zone', '--buffer', '500']),
    ('dissolveid', 'prepared', {'CLASS_FIELD': 'band'}, ['--class-field', 'band']),
    ('area', 'prepared', {'CLASS_FIELD': 'zone'}, ['--class-field', 'zone']),
    ('edge', 'prepared', {'CLASS_FIELD': 'band'}, ['--class-field', 'band']),
    # One class per line: the order given is the order of the rows.
    ('form', 'prepared', {'CLASS_FIELD': 'zone', 'CLASSES': 'slope\ncoastal plain'},
     ['--class-field', 'zone', '--classes', 'slope', '--classes', 'coastal plain']),
    ('corearea', 'prepared', {'CLASS_FIELD': 'zone', 'DISTANCE': 25}, ['--class-field', 'zone', '--distance', '25']),
    ('diversity', 'prepared', {'CLASS_FIELD': 'zone', 'POTENTIAL': 6}, ['--class-field', 'zone', '--potential', '6']),
    ('subdivision', 'prepared', {'CLASS_FIELD': 'zone'}, ['--class-field', 'zone']),
    ('deletefields', 'prepared', {'FIELDS': ['NNId', 'Perimeter']}, ['--fields', 'NNId,Perimeter']),
]
OPERATION = {'areaperimeter': 'area-perimeter', 'nearestneighbour': 'nearest-neighbour', 'dissolveid': 'dissolve-id',
             'corearea': 'core-area', 'deletefields': 'delete-fields'}


class EveryAlgorithmTest(unittest.TestCase):
    """Each algorithm writes the fields, reports and core areas that quilta
    writes on the same input, and QGIS shows the new fields at once."""

    @classmethod
    def setUpClass(cls):
        cls.prepared = copy_sample(os.path.join(WORK, 'prepared'))
        cli(cls.prepared, 'area-perimeter', 'nearest-neighbour', '--class-field', 'zone')

    def test_every_operation_has_its_algorithm(self):
        names = {a.name() for a in QgsApplication.processingRegistry().providerById('quilta').algorithms()}
        self.assertEqual(names, {c[0] for c in CASES} | {'metrics'})

    def test_matches_the_program(self):
        for n, (alg, start, params, options) in enumerate(CASES):
            with self.subTest(algorithm=alg, parameters=params):
                self.check_case(n, alg, start, params, options)

    def check_case(self, n, alg, start, params, options):
        case = os.path.join(WORK, 'case{}'.format(n))
        base = self.prepared if start == 'prepared' else SAMPLE + '.shp'
        mine, theirs = copy_layer(base, case + '/plugin'), copy_layer(base, case + '/cli')
        layer = QgsVectorLayer(mine, 'analysed', 'ogr')
        QgsProject.instance().addMapLayer(layer)
        try:
            parameters = dict(params, INPUT=layer)
            op = OPERATION.get(alg, alg)
            extra = []
            window = alg in ('proximity', 'area', 'edge', 'form', 'corearea', 'diversity', 'subdivision')
            if window:
                os.makedirs(case + '/reports-plugin')
                os.makedirs(case + '/reports-cli')
                parameters.update(REPORTS=case + '/reports-plugin', OUTPUT_HTML=case + '/window.html')
                extra = ['--reports', case + '/reports-cli', '--json']
            if alg == 'corearea':
                parameters['CORE_OUTPUT'] = case + '/core-plugin.shp'
                extra += ['--core-output', case + '/core-cli.shp']
            feedback = Recorder()
            results = processing.run('quilta:' + alg, parameters, feedback=feedback)
            expected = cli(theirs, op, *options, *extra)

            for ext in ('.shp', '.shx', '.dbf'):
                self.assertEqual(read(mine[:-4] + ext), read(theirs[:-4] + ext), ext)
            # The project's layer was reloaded: it shows the fields of the file.
            self.assertEqual(layer.fields().names(), ogr_fields(theirs))
            self.assertEqual(results['OUTPUT'], layer.id())
            self.assertEqual(feedback.errors, [])
            self.assertIn('{}: completed'.format(op), '\n'.join(feedback.infos))
            self.assertEqual(feedback.progress[-1], 100)
            if window:
                self.check_window(case, results, expected.stdout)
            if alg == 'corearea':
                self.assertEqual(results['CORE_OUTPUT'], case + '/core-plugin.shp')
                for ext in ('.shp', '.dbf'):
                    self.assertEqual(read(case + '/core-plugin' + ext), read(case + '/core-cli' + ext), ext)
        finally:
            QgsProject.instance().removeMapLayer(layer.id())

    def test_core_areas_join_the_project(self):
        # As after a run from the algorithm dialog.
        shp = copy_layer(self.prepared, os.path.join(WORK, 'core-project'))
        core = os.path.join(WORK, 'core-project', 'cores.shp')
        before = set(QgsProject.instance().mapLayers())
        processing.runAndLoadResults('quilta:corearea', {'INPUT': shp, 'CLASS_FIELD': 'zone', 'CORE_OUTPUT': core})
        added = [QgsProject.instance().mapLayer(i) for i in set(QgsProject.instance().mapLayers()) - before]
        try:
            cores = [l for l in added if l.source().startswith(core)]
            self.assertEqual(len(cores), 1, [l.source() for l in added])
            self.assertEqual(cores[0].fields().names(), ['Orig_ID', 'Core_Area'])
            self.assertGreater(cores[0].featureCount(), 0)
        finally:
            QgsProject.instance().removeMapLayers([l.id() for l in added])

    def check_window(self, case, results, json_lines):
        reports = sorted(os.listdir(case + '/reports-cli'))
        self.assertTrue(reports)
        self.assertEqual(sorted(os.listdir(case + '/reports-plugin')), reports)
        for name in reports:
            self.assertEqual(read(case + '/reports-plugin/' + name), read(case + '/reports-cli/' + name), name)
        with open(results['OUTPUT_HTML'], encoding='utf-8') as f:
            page = f.read()
        import html
        windows = [json.loads(line) for line in json_lines.splitlines() if line.startswith('{')]
        self.assertEqual(len(windows), 1)
        w = windows[0]
        texts = [w['caption'], w['layer']] + w['columns'] + [cell for row in w['rows'] for cell in row]
        texts += [v['label'] for v in w['landscape']] + [v['text'] for v in w['landscape'] if v['label']]
        for text in texts:
            self.assertIn(html.escape(text), page)
        for name in reports:
            self.assertIn(name, page)


class StderrReaderTest(unittest.TestCase):
    """quilta's stderr, line by line, as the feedback gets it."""

    class Feedback:
        def __init__(self):
            self.log = []

        def setProgress(self, value):
            self.log.append(('progress', value))

        def setProgressText(self, text):
            self.log.append(('text', text))

        def pushInfo(self, text):
            self.log.append(('info', text))

        def reportError(self, text):
            self.log.append(('error', text))

    def read(self, text):
        from quilta_processing import program
        feedback, result = self.Feedback(), program.RunResult()
        reader = program.StderrReader(feedback, result)
        for line in text.splitlines(keepends=True):
            reader.line(line)
        reader.close()
        return feedback.log, result

    def test_messages_progress_and_outcomes(self):
        log, result = self.read(
            'Quilta 1.1: Number of selected classes: 2\n  Selected classes: \n  a\n'
            '{"progress":25.0,"operation":"area","step":1,"steps":2,"item":0,"items":0}\n'
            '{"progress":50.0,"operation":"area","step":2,"steps":2,"item":0,"items":0}\n'
            '{"progress":nonsense\n'
            'area: completed\n')
        self.assertEqual(log, [
            ('info', 'Quilta 1.1: Number of selected classes: 2\n  Selected classes: \n  a'),
            ('progress', 25.0), ('text', 'area: step 1 of 2'),
            ('progress', 50.0), ('text', 'area: step 2 of 2'),
            ('info', '{"progress":nonsense'),
            ('info', 'area: completed')])
        self.assertEqual(result.outcomes, {'area': 'completed'})
        self.assertEqual(result.errors, [])

    def test_failures_with_their_cause_and_refusals(self):
        log, result = self.read(
            'Quilta 1.1: Error in shapefile!\ncause: no such folder\ncore-area: failed\n'
            'No NN: Please perform Nearest Neighbour Analysis!\npx92: refused\n'
            'quilta: cannot open the layer\ncause: "x.shp" does not exist\n'
            'quilta: the class field "zone" has no class "swamp"\n')
        self.assertEqual(result.errors, [
            'Quilta 1.1: Error in shapefile!\ncause: no such folder',
            'No NN: Please perform Nearest Neighbour Analysis!',
            'quilta: cannot open the layer\ncause: "x.shp" does not exist',
            'quilta: the class field "zone" has no class "swamp"'])
        self.assertEqual([kind for kind, _ in log], ['error', 'info', 'error', 'info', 'error', 'error'])
        self.assertEqual(result.outcomes, {'core-area': 'failed', 'px92': 'refused'})
        result.status = 1
        self.assertEqual(result.failure(), 'quilta ended with exit status 1: quilta: the class field "zone" has no '
                                           'class "swamp"')


class BackgroundTest(unittest.TestCase):
    """Run as the algorithm dialog runs it, in a task's worker thread: the
    project's layer shows the new fields once the main thread gets to it."""

    def test_worker_thread(self):
        from qgis.core import QgsProcessingAlgRunnerTask, QgsProcessingContext, QgsTask
        shp = copy_sample(os.path.join(WORK, 'background'))
        layer = QgsVectorLayer(shp, 'background', 'ogr')
        QgsProject.instance().addMapLayer(layer)
        try:
            context = QgsProcessingContext()
            context.setProject(QgsProject.instance())
            feedback = Recorder()
            algorithm = QgsApplication.processingRegistry().algorithmById('quilta:nearestneighbour')
            task = QgsProcessingAlgRunnerTask(algorithm, {'INPUT': layer, 'CLASS_FIELD': 'band'}, context, feedback)
            outcome = []
            task.executed.connect(lambda ok, results: outcome.append((ok, results)))
            QgsApplication.taskManager().addTask(task)
            deadline = time.time() + 120
            while not outcome and time.time() < deadline:
                QgsApplication.processEvents()
                time.sleep(0.01)
            QgsApplication.processEvents()
            self.assertEqual(len(outcome), 1, feedback.errors)
            self.assertTrue(outcome[0][0], feedback.errors)
            self.assertEqual(layer.fields().names(), ['band', 'zone', 'NNDist', 'NNId', 'NN_Area'])
            self.assertEqual(outcome[0][1]['OUTPUT'], layer.id())
        finally:
            QgsProject.instance().removeMapLayer(layer.id())


def ogr_from_csv(folder, name, wkt_csv, geometry):
    """A shapefile in the sample's coordinate system from WKT rows."""
    text = os.path.join(folder, name + '.csv')
    with open(text, 'w') as f:
        f.write(wkt_csv)
    shp = os.path.join(folder, name + '.shp')
    subprocess.run(['ogr2ogr', '-q', '-a_srs', 'EPSG:32725', shp, text, '-nlt', geometry], check=True)
    return shp


class MetricsTest(unittest.TestCase):
    """The metric table of the plugin is the table quilta metrics writes on
    the same input; the layers are only read; what cannot run fails without
    leaving a table behind."""

    @classmethod
    def setUpClass(cls):
        cls.folder = os.path.join(WORK, 'metrics')
        cls.shp = copy_sample(cls.folder)
        cls.points = ogr_from_csv(cls.folder, 'points', 'WKT,site\n"POINT (293000 9114000)",b\n'
                                  '"POINT (295000 9117000)",a\n', 'POINT')
        cls.regions = ogr_from_csv(cls.folder, 'regions', 'WKT,name\n'
                                   '"POLYGON ((290000 9112000,294000 9112000,294000 9116000,290000 9116000,'
                                   '290000 9112000))",west\n'
                                   '"POLYGON ((294000 9112000,298000 9112000,298000 9116000,294000 9116000,'
                                   '294000 9112000))",east\n', 'POLYGON')

    def check_same_table(self, name, params, options):
        mine, theirs = os.path.join(self.folder, name + '-plugin.csv'), os.path.join(self.folder, name + '-cli.csv')
        before = {ext: read(self.shp[:-4] + ext) for ext in ('.shp', '.shx', '.dbf')}
        layer = QgsVectorLayer(self.shp, 'land', 'ogr')
        feedback = Recorder()
        results = processing.run('quilta:metrics', dict(params, INPUT=layer, CLASS_FIELD='zone', OUTPUT=mine),
                                 feedback=feedback)
        self.assertEqual(feedback.errors, [])
        self.assertEqual(results['OUTPUT'], mine)
        self.assertEqual(feedback.progress[-1], 100)
        cli('metrics', self.shp, '--class-field', 'zone', *options, '--output', theirs)
        self.assertEqual(read(mine), read(theirs))
        for ext, data in before.items():
            self.assertEqual(read(self.shp[:-4] + ext), data, ext)
        # QGIS opens the table as a layer without geometry, a feature per row.
        table = QgsVectorLayer(mine, 'table', 'ogr')
        self.assertTrue(table.isValid())
        self.assertEqual(table.fields().names(), ['layer', 'region', 'radius', 'level', 'class', 'id', 'metric',
                                                  'value'])
        self.assertEqual(table.featureCount(), read(mine).count(b'\n') - 1)
        return read(mine).decode('utf-8')

    def test_points_at_every_level(self):
        text = self.check_same_table(
            'points', {'LEVELS': [0, 1, 2], 'EDGE_DEPTH': 25, 'SEARCH_RADIUS': 500, 'POINTS': self.points,
                       'POINT_FIELD': 'site', 'RADII': '1000, 250'},
            ['--level', 'patch,class,landscape', '--edge-depth', '25', '--search-radius', '500',
             '--points', self.points, '--point-field', 'site', '--radius', '1000,250'])
        for key in (',a,250,patch,', ',b,1000,class,', ',a,1000,landscape,'):
            self.assertIn(key, text)

    def test_regions_and_chosen_metrics(self):
        text = self.check_same_table(
            'regions', {'METRICS': 'ca, np,te', 'COUNT_BOUNDARY': True, 'REGIONS': self.regions,
                        'REGION_FIELD': 'name'},
            ['--metrics', 'ca,np,te', '--count-boundary', '--regions', self.regions, '--region-field', 'name'])
        self.assertEqual({line.split(',')[1] for line in text.splitlines()[1:]}, {'east', 'west'})

    def test_table_opens_in_the_project(self):
        # As with "Open output file after running" in the algorithm dialog.
        from qgis.core import QgsProcessingContext, QgsProcessingOutputLayerDefinition
        mine = os.path.join(self.folder, 'opened.csv')
        context = QgsProcessingContext()
        context.setProject(QgsProject.instance())
        processing.run('quilta:metrics', {'INPUT': self.shp, 'CLASS_FIELD': 'zone', 'METRICS': 'np',
                                          'OUTPUT': QgsProcessingOutputLayerDefinition(mine, QgsProject.instance())},
                       context=context)
        self.assertEqual(list(context.layersToLoadOnCompletion()), [mine])

    def test_failures_leave_no_table(self):
        stale = os.path.join(self.folder, 'stale.csv')
        cases = [({'METRICS': 'ca,nosuchmetric'}, 'nosuchmetric'),
                 ({'LEVELS': []}, 'LEVELS'),
                 ({'POINTS': self.points, 'POINT_FIELD': 'site'}, 'radii'),
                 ({'RADII': '250'}, 'points layer'),
                 ({'POINTS': self.points, 'POINT_FIELD': 'site', 'RADII': '250,far'}, 'not numbers'),
                 ({'REGIONS': self.regions}, 'naming the regions'),
                 ({'REGIONS': self.regions, 'REGION_FIELD': 'name', 'POINTS': self.points, 'POINT_FIELD': 'site',
                   'RADII': '250'}, 'not both')]
        for params, expected in cases:
            with self.subTest(params=params):
                with open(stale, 'w') as f:
                    f.write('layer,region\n')
                feedback = Recorder()
                with self.assertRaises(QgsProcessingException) as raised:
                    processing.run('quilta:metrics', dict(params, INPUT=self.shp, CLASS_FIELD='zone', OUTPUT=stale),
                                   feedback=feedback)
                self.assertIn(expected, '\n'.join([str(raised.exception)] + feedback.errors))
                if 'nosuchmetric' in params.get('METRICS', ''):
                    # quilta ran and refused: the older table is gone.
                    self.assertFalse(os.path.exists(stale))

    def test_cancel_leaves_no_table(self):
        class CancelAtStart(Recorder):
            def pushCommandInfo(self, info):
                super().pushCommandInfo(info)
                self.cancel()
        stale = os.path.join(self.folder, 'cancelled.csv')
        with open(stale, 'w') as f:
            f.write('layer,region\n')
        feedback = CancelAtStart()
        with self.assertRaises(QgsProcessingException):
            processing.run('quilta:metrics', {'INPUT': self.shp, 'CLASS_FIELD': 'zone', 'LEVELS': [0, 1, 2],
                                              'OUTPUT': stale}, feedback=feedback)
        self.assertIn('Cancelled: no table was written.', feedback.infos)
        self.assertFalse(os.path.exists(stale))

    def test_sample_points_of_a_geopackage_layer_are_refused(self):
        gpkg = os.path.join(self.folder, 'sites.gpkg')
        subprocess.run(['ogr2ogr', '-f', 'GPKG', '-nln', 'sites', gpkg, self.points], check=True)
        points = QgsVectorLayer(gpkg + '|layername=sites', 'sites', 'ogr')
        self.assertTrue(points.isValid())
        feedback = Recorder()
        with self.assertRaises(QgsProcessingException):
            processing.run('quilta:metrics', {'INPUT': self.shp, 'CLASS_FIELD': 'zone', 'POINTS': points,
                                              'POINT_FIELD': 'site', 'RADII': '250',
                                              'OUTPUT': os.path.join(self.folder, 'gpkg.csv')}, feedback=feedback)
        self.assertIn('save it as a shapefile', '\n'.join(feedback.errors))


class FailureTest(unittest.TestCase):
    """What goes wrong reaches the user: refusals and failures as errors with
    their cause, and the algorithm fails."""

    def run_failing(self, alg, parameters):
        feedback = Recorder()
        with self.assertRaises(QgsProcessingException) as raised:
            processing.run('quilta:' + alg, parameters, feedback=feedback)
        # Processing reports a failure while preparing as an error and raises
        # an exception of its own.
        return '\n'.join([str(raised.exception)] + feedback.errors), feedback

    def test_refused_without_its_fields(self):
        layer = copy_sample(os.path.join(WORK, 'refused'))
        message, feedback = self.run_failing('px92', {'INPUT': layer, 'CLASS_FIELD': 'zone', 'BUFFER': 500})
        self.assertIn('No NN: Please perform Nearest Neighbour Analysis!', feedback.errors)
        self.assertIn('exit status 1', message)
        self.assertEqual(ogr_fields(layer), ['band', 'zone'])

    def test_failure_with_its_cause(self):
        layer = copy_sample(os.path.join(WORK, 'cause'))
        cli(layer, 'area-perimeter')
        missing = os.path.join(WORK, 'no-such-folder', 'core.shp')
        message, feedback = self.run_failing('corearea', {'INPUT': layer, 'CLASS_FIELD': 'zone',
                                                          'CORE_OUTPUT': missing})
        self.assertEqual(len(feedback.errors), 1, feedback.errors)
        self.assertTrue(feedback.errors[0].startswith('Quilta 1.1: Error in shapefile'), feedback.errors)
        self.assertIn('\ncause: ', feedback.errors[0])
        self.assertIn('Error in shapefile', message)

    def test_unknown_class(self):
        layer = copy_sample(os.path.join(WORK, 'unknown'))
        message, feedback = self.run_failing('nearestneighbour', {'INPUT': layer, 'CLASS_FIELD': 'zone',
                                                                  'CLASSES': 'swamp'})
        self.assertIn('has no class "swamp"', message)
        self.assertEqual(ogr_fields(layer), ['band', 'zone'])

    def test_missing_program(self):
        layer = copy_sample(os.path.join(WORK, 'noprogram'))
        # A program set in the options that has gone since.
        gone = os.path.join(WORK, 'gone', 'quilta')
        os.makedirs(os.path.dirname(gone))
        shutil.copy(QUILTA, gone)
        ProcessingConfig.setSettingValue(PROGRAM_SETTING, gone)
        os.remove(gone)
        path = os.environ['PATH']
        try:
            message, _ = self.run_failing('areaperimeter', {'INPUT': layer})
            self.assertIn(gone, message)
            self.assertIn('Processing options', message)
            # None set, none next to the plugin, none on PATH.
            ProcessingConfig.setSettingValue(PROGRAM_SETTING, '')
            os.environ['PATH'] = os.path.join(WORK, 'gone')
            message, _ = self.run_failing('areaperimeter', {'INPUT': layer})
            self.assertIn('neither next to the plugin', message)
            self.assertIn('install-qgis-plugin.sh', message)
        finally:
            os.environ['PATH'] = path
            ProcessingConfig.setSettingValue(PROGRAM_SETTING, QUILTA)
        self.assertEqual(ogr_fields(layer), ['band', 'zone'])

    def test_refuses_what_it_cannot_analyse(self):
        folder = os.path.join(WORK, 'other')
        layer = copy_sample(folder)
        geojson = os.path.join(folder, 'land.geojson')
        subprocess.run(['ogr2ogr', '-f', 'GeoJSON', geojson, layer], check=True)
        message, _ = self.run_failing('areaperimeter', {'INPUT': geojson})
        self.assertIn('GeoPackages (.gpkg) and PostGIS tables', message)
        # A layer being edited in QGIS would lose the fields quilta writes.
        edited = QgsVectorLayer(layer, 'edited', 'ogr')
        QgsProject.instance().addMapLayer(edited)
        edited.startEditing()
        try:
            message, _ = self.run_failing('areaperimeter', {'INPUT': edited})
        finally:
            edited.rollBack()
            QgsProject.instance().removeMapLayer(edited.id())
        self.assertIn('being edited', message)
        self.assertEqual(ogr_fields(layer), ['band', 'zone'])


class GeoPackageTest(unittest.TestCase):
    """A layer of a GeoPackage that holds two: quilta is told which one, and
    writes what it writes for the program run on the same file."""

    def test_chosen_layer_of_a_geopackage(self):
        folder = os.path.join(WORK, 'gpkg')
        shp = copy_sample(folder)
        files = {}
        for who in ('plugin', 'cli'):
            gpkg = os.path.join(folder, who + '.gpkg')
            for name in ('first', 'land'):
                update = ['-update'] if os.path.exists(gpkg) else []
                subprocess.run(['ogr2ogr', '-f', 'GPKG'] + update + ['-nln', name, gpkg, shp], check=True)
            files[who] = gpkg
        layer = QgsVectorLayer(files['plugin'] + '|layername=land', 'land', 'ogr')
        self.assertTrue(layer.isValid())
        QgsProject.instance().addMapLayer(layer)
        try:
            feedback = Recorder()
            processing.run('quilta:areaperimeter', {'INPUT': layer}, feedback=feedback)
            self.assertEqual(feedback.errors, [])
            self.assertEqual(layer.fields().names(), ['fid', 'band', 'zone', 'Area', 'Perimeter'])
        finally:
            QgsProject.instance().removeMapLayer(layer.id())
        cli(files['cli'], '--layer', 'land', 'area-perimeter')

        def rows(gpkg, name):
            l = QgsVectorLayer(gpkg + '|layername=' + name, name, 'ogr')
            return l.fields().names(), [f.attributes() for f in l.getFeatures()]
        for name in ('first', 'land'):
            self.assertEqual(rows(files['plugin'], name), rows(files['cli'], name), name)
        self.assertNotIn('Area', rows(files['plugin'], 'first')[0])


@unittest.skipUnless(os.environ.get('QUILTA_TEST_PG'), 'no PostgreSQL server for the tests (QUILTA_TEST_PG)')
class PostgisTest(unittest.TestCase):
    """A PostGIS table as QGIS holds it: quilta gets the connection and the
    table, and writes what it writes for the program run on a copy."""

    def test_postgis_table(self):
        from qgis.core import QgsDataSourceUri
        conninfo = os.environ['QUILTA_TEST_PG']
        shp = copy_sample(os.path.join(WORK, 'postgis'))
        for table in ('qgis_plugin', 'qgis_cli'):
            subprocess.run(['ogr2ogr', '-f', 'PostgreSQL', 'PG:' + conninfo, shp, '-nln', table, '-overwrite',
                            '-lco', 'GEOMETRY_NAME=geom'], check=True)
        uri = QgsDataSourceUri(conninfo)
        uri.setDataSource('public', 'qgis_plugin', 'geom', '', 'ogc_fid')
        layer = QgsVectorLayer(uri.uri(False), 'land', 'postgres')
        self.assertTrue(layer.isValid())
        QgsProject.instance().addMapLayer(layer)
        try:
            feedback = Recorder()
            processing.run('quilta:areaperimeter', {'INPUT': layer}, feedback=feedback)
            self.assertEqual(feedback.errors, [])
            self.assertIn('Perimeter', layer.fields().names())
        finally:
            QgsProject.instance().removeMapLayer(layer.id())
        cli('PG:' + conninfo, '--layer', 'public.qgis_cli', 'area-perimeter')

        def rows(table):
            u = QgsDataSourceUri(conninfo)
            u.setDataSource('public', table, 'geom', '', 'ogc_fid')
            l = QgsVectorLayer(u.uri(False), table, 'postgres')
            return l.fields().names(), sorted(f.attributes() for f in l.getFeatures())
        self.assertEqual(rows('qgis_plugin'), rows('qgis_cli'))


class QgisProcessTest(unittest.TestCase):
    """The install script puts the provider into a profile; qgis_process runs
    it from the command line."""

    QGIS_PROCESS = '/usr/bin/qgis_process.bin'

    def test_nearest_neighbour_on_the_command_line(self):
        if not os.access(self.QGIS_PROCESS, os.X_OK):
            self.fail('qgis_process.bin is missing although QGIS is installed')
        env = dict(os.environ, QGIS_CUSTOM_CONFIG_PATH=os.path.join(WORK, 'process-profile'))
        subprocess.run([os.path.join(SOURCE, 'scripts', 'install-qgis-plugin.sh'), '--program', QUILTA], env=env,
                       check=True, capture_output=True)
        mine = copy_sample(os.path.join(WORK, 'process', 'plugin'))
        theirs = copy_sample(os.path.join(WORK, 'process', 'cli'))
        run = subprocess.run([self.QGIS_PROCESS, 'run', 'quilta:nearestneighbour', '--', 'INPUT=' + mine,
                              'CLASS_FIELD=zone'], env=env, capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        cli(theirs, 'nearest-neighbour', '--class-field', 'zone')
        self.assertEqual(ogr_fields(mine), ['band', 'zone', 'NNDist', 'NNId', 'NN_Area'])
        self.assertEqual(read(mine[:-4] + '.dbf'), read(theirs[:-4] + '.dbf'))


class CancelTest(unittest.TestCase):
    """Cancel stops a long run inside its one class; the layer stays whole."""

    def test_cancel_a_long_run(self):
        folder = os.path.join(WORK, 'long')
        os.makedirs(folder)
        land = os.path.join(folder, 'land.shp')
        subprocess.run([GENLAND, land, '--patches', '20000', '--classes', '2'], check=True, capture_output=True)
        feedback = Recorder(cancel_at=5)
        processing.run('quilta:proximity', {'INPUT': land, 'BUFFER': 1000}, feedback=feedback)
        log = '\n'.join(feedback.infos)
        self.assertIn('proximity: cancelled', log)
        self.assertNotIn('Calculation finished!', log)
        self.assertEqual(feedback.errors, [])
        # The progress moved inside the one class before the cancel.
        self.assertTrue(any(0 < p < 100 for p in feedback.progress), feedback.progress)
        self.assertLess(max(feedback.progress), 100)

        layer = QgsVectorLayer(land, 'cancelled', 'ogr')
        self.assertTrue(layer.isValid())
        self.assertEqual(layer.featureCount(), 20000)
        self.assertEqual(layer.fields().names()[-2:], ['noclass', 'PXfg_1000'])
        values = [f['PXfg_1000'] for f in layer.getFeatures()]
        self.assertEqual(len(values), 20000)
        computed = [v for v in values if v != -999]
        self.assertTrue(0 < len(computed) < 20000, len(computed))
        self.assertTrue(all(v >= 0 for v in computed))
        # The file is whole: quilta works on it again.
        self.assertIn('area-perimeter: completed', cli(land, 'area-perimeter').stderr)


if __name__ == '__main__':
    result = unittest.main(exit=False, verbosity=2).result
    shutil.rmtree(WORK, ignore_errors=True)
    sys.stdout.flush()
    # Leaving without exitQgis(): tearing QGIS down at exit can crash.
    os._exit(0 if result.wasSuccessful() else 1)
