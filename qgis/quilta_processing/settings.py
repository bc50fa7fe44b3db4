"""The provider's setting: the path of the quilta program, shown under
Settings > Options > Processing > Providers > Quilta. Empty: quilta next to
the plugin, then on PATH. scripts/install-qgis-plugin.sh sets it."""

from processing.core.ProcessingConfig import ProcessingConfig, Setting

PROGRAM_SETTING = 'QUILTA_PROGRAM'


def add_settings(group, icon):
    ProcessingConfig.settingIcons[group] = icon
    ProcessingConfig.addSetting(Setting(group, PROGRAM_SETTING,
                                        'Quilta program (empty: quilta next to the plugin, then on PATH)', '',
                                        valuetype=Setting.FILE))
    ProcessingConfig.readSettings()


def remove_settings():
    ProcessingConfig.removeSetting(PROGRAM_SETTING)


def configured_program():
    return ProcessingConfig.getSetting(PROGRAM_SETTING) or ''
