<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>AppState</name>
    <message>
        <source>Keyloom could not read its settings</source>
        <translation>Keyloom n&apos;a pas pu lire ses paramètres</translation>
    </message>
    <message>
        <source>What it could not read is kept in %1; the rest start from their defaults.</source>
        <translation>Ce qui n&apos;a pas pu être lu est conservé dans %1 ; le reste reprend les valeurs par défaut.</translation>
    </message>
    <message>
        <source>The keyboard layout has no key for such characters, and no spare key is free.</source>
        <translation>La disposition du clavier n&apos;a aucune touche pour de tels caractères, et aucune touche de réserve n&apos;est libre.</translation>
    </message>
    <message>
        <source>Such a character needs more spare keys than there are.</source>
        <translation>Un tel caractère demande plus de touches de réserve qu&apos;il n&apos;en existe.</translation>
    </message>
    <message>
        <source>The desktop did not take the keymap change such characters need.</source>
        <translation>Le bureau n&apos;a pas accepté la modification du clavier dont ces caractères ont besoin.</translation>
    </message>
    <message>
        <source>This window passes on keys only, and no key or dead key of the keyboard layout gives such characters.</source>
        <translation>Cette fenêtre ne transmet que des touches, et aucune touche ni touche morte de la disposition du clavier ne donne de tels caractères.</translation>
    </message>
    <message numerus="yes">
        <source>Nothing was typed. Characters that cannot be typed here: %n. %1</source>
        <translation>
            <numerusform>Rien n&apos;a été saisi. %n caractère ne peut pas être saisi ici. %1</numerusform>
            <numerusform>Rien n&apos;a été saisi. %n caractères ne peuvent pas être saisis ici. %1</numerusform>
        </translation>
    </message>
    <message>
        <source>Typing stopped at a character that cannot be typed here. %1</source>
        <translation>La saisie s&apos;est arrêtée sur un caractère qui ne peut pas être saisi ici. %1</translation>
    </message>
    <message>
        <source>Choose &quot;Type Anyway Without Them&quot; in Keyloom&apos;s menu to type the rest.</source>
        <translation>Choisissez «&#xa0;Saisir quand même sans eux&#xa0;» dans le menu de Keyloom pour saisir le reste.</translation>
    </message>
    <message>
        <source>Keyloom typed nothing</source>
        <translation>Keyloom n&apos;a rien saisi</translation>
    </message>
    <message>
        <source>Keyloom stopped typing</source>
        <translation>Keyloom a arrêté la saisie</translation>
    </message>
    <message>
        <source>The settings file could not be read; its content is kept in %1</source>
        <translation>Le fichier de paramètres n&apos;a pas pu être lu ; son contenu est conservé dans %1</translation>
    </message>
</context>
<context>
    <name>HowToUseSection</name>
    <message>
        <source>How to Use</source>
        <translation>Mode d&apos;emploi</translation>
    </message>
    <message>
        <source>**Clipboard mode:** Copy text, then press shortcut.</source>
        <translation>**Mode presse-papiers&#xa0;:** copiez du texte, puis appuyez sur le raccourci clavier.</translation>
    </message>
    <message>
        <source>**List mode:** Add snippets above, press shortcut to type each one in order.</source>
        <translation>**Mode liste&#xa0;:** ajoutez des extraits ci-dessus, puis appuyez sur le raccourci clavier pour les saisir un par un, dans l&apos;ordre.</translation>
    </message>
    <message>
        <source>**Virtual machines and remote desktops:** keys go out as on a PC keyboard, accents through dead keys. The guest must use the same layout, with CapsLock and NumLock off.</source>
        <translation>**Machines virtuelles et bureaux à distance&#xa0;:** les touches partent comme sur un clavier de PC, les accents par des touches mortes. L&apos;invité doit utiliser la même disposition, avec Verr. Maj et Verr. Num désactivés.</translation>
    </message>
    <message>
        <source>**This desktop keeps shortcuts to itself:** bind **keyloom --toggle** (and **keyloom --previous**) to keys in its keyboard settings.</source>
        <translation>**Ce bureau garde les raccourcis clavier pour lui&#xa0;:** associez **keyloom --toggle** (et **keyloom --previous**) à des touches dans ses paramètres du clavier.</translation>
    </message>
    <message>
        <source>Stopping the animation</source>
        <translation>Arrêter</translation>
    </message>
    <message>
        <source>Press **Esc** to cancel immediately.</source>
        <translation>Appuyez sur **Échap** pour annuler immédiatement.</translation>
    </message>
    <message>
        <source>**Esc** cannot stop typing on this desktop: use the shortcut or **Stop Typing** in the tray menu.</source>
        <translation>**Échap** ne peut pas arrêter la saisie sur ce bureau&#xa0;: utilisez le raccourci clavier ou **Arrêter la saisie** dans le menu de la zone de notification.</translation>
    </message>
    <message>
        <source>Press the **shortcut again** to stop.</source>
        <translation>Appuyez **de nouveau sur le raccourci clavier** pour arrêter.</translation>
    </message>
    <message>
        <source>The app waits for you to release the shortcut keys before it starts typing, so you won’t get extra characters. In list mode, it advances to the next snippet after each paste and wraps back to the first.</source>
        <translation>L&apos;application attend que vous relâchiez les touches du raccourci clavier avant de commencer la saisie, pour qu&apos;aucun caractère en trop n&apos;apparaisse. En mode liste, elle passe à l&apos;extrait suivant après chaque collage et revient au premier après le dernier.</translation>
    </message>
</context>
<context>
    <name>MenuBarContent</name>
    <message>
        <source>Grant Accessibility Permission...</source>
        <translation>Accorder l&apos;autorisation d&apos;accessibilité...</translation>
    </message>
    <message>
        <source>Typing...</source>
        <translation>Saisie en cours...</translation>
    </message>
    <message>
        <source>Stop Typing</source>
        <translation>Arrêter la saisie</translation>
    </message>
    <message>
        <source>Esc cannot stop typing on this desktop.</source>
        <translation>Échap ne peut pas arrêter la saisie sur ce bureau.</translation>
    </message>
    <message>
        <source>Keyloom Paste</source>
        <translation>Coller avec Keyloom</translation>
    </message>
    <message>
        <source>Keyloom Paste  %1</source>
        <translation>Coller avec Keyloom  %1</translation>
    </message>
    <message>
        <source>Cannot type here: %1</source>
        <translation>Impossible à saisir ici&#xa0;: %1</translation>
    </message>
    <message>
        <source>Type Anyway Without Them</source>
        <translation>Saisir quand même sans eux</translation>
    </message>
    <message>
        <source>Snippet %1 of %2</source>
        <translation>Extrait %1 sur %2</translation>
    </message>
    <message>
        <source>Clear Clipboard</source>
        <translation>Vider le presse-papiers</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Paramètres...</translation>
    </message>
    <message>
        <source>Quit Keyloom</source>
        <translation>Quitter Keyloom</translation>
    </message>
    <message>
        <source>Keyloom</source>
        <translation>Keyloom</translation>
    </message>
</context>
<context>
    <name>PermissionsSection</name>
    <message>
        <source>Permissions</source>
        <translation>Autorisations</translation>
    </message>
    <message>
        <source>Permissions Granted!</source>
        <translation>Autorisations accordées&#xa0;!</translation>
    </message>
    <message>
        <source>Needs Permissions</source>
        <translation>Autorisations nécessaires</translation>
    </message>
    <message>
        <source>Request Access</source>
        <translation>Demander l&apos;accès</translation>
    </message>
    <message>
        <source>Keyloom uses Accessibility to register a global keyboard shortcut and simulate individual key presses into whatever app is focused - browsers, editors, terminals, and native apps.</source>
        <translation>Keyloom utilise l&apos;accessibilité pour enregistrer un raccourci clavier global et simuler des frappes de touches dans l&apos;application active&#xa0;: navigateurs, éditeurs, terminaux et applications natives.</translation>
    </message>
</context>
<context>
    <name>PortalRemoteDesktop</name>
    <message>
        <source>Access to the keyboard was refused.</source>
        <translation>L&apos;accès au clavier a été refusé.</translation>
    </message>
    <message>
        <source>The desktop did not give access to the keyboard (error %1).</source>
        <translation>Le bureau n&apos;a pas donné accès au clavier (erreur %1).</translation>
    </message>
    <message>
        <source>The desktop refused to open a session (%1).</source>
        <translation>Le bureau a refusé d&apos;ouvrir une session (%1).</translation>
    </message>
    <message>
        <source>The desktop opened no session.</source>
        <translation>Le bureau n&apos;a ouvert aucune session.</translation>
    </message>
    <message>
        <source>The desktop did not give access to the keyboard.</source>
        <translation>Le bureau n&apos;a pas donné accès au clavier.</translation>
    </message>
    <message>
        <source>The desktop ended Keyloom&apos;s access to the keyboard.</source>
        <translation>Le bureau a mis fin à l&apos;accès de Keyloom au clavier.</translation>
    </message>
</context>
<context>
    <name>PortalShortcutTap</name>
    <message>
        <source>The desktop refused Keyloom&apos;s shortcuts (%1).</source>
        <translation>Le bureau a refusé les raccourcis clavier de Keyloom (%1).</translation>
    </message>
    <message>
        <source>The desktop gave Keyloom no shortcuts (%1).</source>
        <translation>Le bureau n&apos;a donné aucun raccourci clavier à Keyloom (%1).</translation>
    </message>
    <message>
        <source>The desktop did not bind Keyloom&apos;s shortcuts (%1).</source>
        <translation>Le bureau n&apos;a pas associé les raccourcis clavier de Keyloom (%1).</translation>
    </message>
    <message>
        <source>The desktop ended Keyloom&apos;s shortcuts.</source>
        <translation>Le bureau a mis fin aux raccourcis clavier de Keyloom.</translation>
    </message>
    <message>
        <source>Change a shortcut or restart Keyloom to ask again, or bind &quot;keyloom --toggle&quot; in the desktop&apos;s keyboard settings.</source>
        <translation>Modifiez un raccourci clavier ou redémarrez Keyloom pour redemander, ou associez «&#xa0;keyloom --toggle&#xa0;» dans les paramètres du clavier du bureau.</translation>
    </message>
</context>
<context>
    <name>PortalTrust</name>
    <message>
        <source>Request access again to be asked once more.</source>
        <translation>Demandez de nouveau l&apos;accès pour que la question soit reposée.</translation>
    </message>
    <message>
        <source>Keyloom is still asking the desktop how it may type.</source>
        <translation>Keyloom demande encore au bureau comment il peut saisir.</translation>
    </message>
    <message>
        <source>This desktop lets Keyloom type into every window once you allow it to control the keyboard: request access, and allow remote interaction when the desktop asks. The desktop asks once per login.</source>
        <translation>Ce bureau laisse Keyloom saisir dans toutes les fenêtres une fois que vous l&apos;autorisez à contrôler le clavier&#xa0;: demandez l&apos;accès, puis autorisez l&apos;interaction à distance quand le bureau le demande. Le bureau pose la question une fois par session.</translation>
    </message>
    <message>
        <source>The desktop is asking whether Keyloom may control the keyboard: answer its dialog.</source>
        <translation>Le bureau demande si Keyloom peut contrôler le clavier&#xa0;: répondez à sa boîte de dialogue.</translation>
    </message>
</context>
<context>
    <name>PreferenceStore</name>
    <message>
        <source>Cannot save settings to %1; changes are kept until Keyloom quits.</source>
        <translation>Impossible d&apos;enregistrer les paramètres dans %1 ; les modifications sont conservées jusqu&apos;à la fermeture de Keyloom.</translation>
    </message>
</context>
<context>
    <name>SettingsLoader</name>
    <message>
        <source>The settings window cannot be opened: %1</source>
        <translation>Impossible d'ouvrir la fenêtre des paramètres : %1</translation>
    </message>
</context>
<context>
    <name>SettingsWindow</name>
    <message>
        <source>Keyloom Settings</source>
        <translation>Paramètres de Keyloom</translation>
    </message>
</context>
<context>
    <name>ShortcutsSection</name>
    <message>
        <source>Shortcuts</source>
        <translation>Raccourcis clavier</translation>
    </message>
    <message>
        <source>Keyloom Paste</source>
        <translation>Coller avec Keyloom</translation>
    </message>
    <message>
        <source>Previous Snippet</source>
        <translation>Extrait précédent</translation>
    </message>
    <message>
        <source>Click a button, then press your desired key combination.</source>
        <translation>Cliquez sur un bouton, puis appuyez sur la combinaison de touches souhaitée.</translation>
    </message>
</context>
<context>
    <name>SnippetListView</name>
    <message>
        <source>Snippets</source>
        <translation>Extraits</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>Paste from Clipboard</source>
        <translation>Du presse-papiers</translation>
    </message>
    <message>
        <source>Paste from List</source>
        <translation>De la liste</translation>
    </message>
    <message>
        <source>No snippets yet. Add one below.</source>
        <translation>Aucun extrait pour l&apos;instant. Ajoutez-en un ci-dessous.</translation>
    </message>
    <message>
        <source>Add snippet...</source>
        <translation>Ajouter un extrait...</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Ajouter</translation>
    </message>
    <message>
        <source>Current: %1 of %2</source>
        <translation>Actuel&#xa0;: %1 sur %2</translation>
    </message>
    <message>
        <source>Reset to First</source>
        <translation>Revenir au premier</translation>
    </message>
    <message>
        <source>Clear All</source>
        <translation>Tout effacer</translation>
    </message>
</context>
<context>
    <name>SnippetRow</name>
    <message>
        <source>Current snippet</source>
        <translation>Extrait actuel</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Supprimer</translation>
    </message>
</context>
<context>
    <name>TypingSpeedSection</name>
    <message>
        <source>Typing Speed</source>
        <translation>Vitesse de saisie</translation>
    </message>
    <message>
        <source>Delay between keystrokes</source>
        <translation>Délai entre les frappes</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <source>From clipboard</source>
        <translation>Depuis le presse-papiers</translation>
    </message>
    <message>
        <source>Sample text</source>
        <translation>Texte d&apos;exemple</translation>
    </message>
    <message>
        <source>Clear Clipboard</source>
        <translation>Vider le presse-papiers</translation>
    </message>
    <message>
        <source>PC keyboard for</source>
        <translation>Clavier de PC pour</translation>
    </message>
    <message>
        <source>VM and remote-desktop viewers</source>
        <translation>Fenêtres de VM et bureau distant</translation>
    </message>
    <message>
        <source>Every window</source>
        <translation>Toutes les fenêtres</translation>
    </message>
    <message>
        <source>No window</source>
        <translation>Aucune fenêtre</translation>
    </message>
    <message>
        <source>Only keys a PC keyboard has, accents through dead keys, as the guest expects. The guest should use this keyboard layout.</source>
        <translation>Uniquement les touches d&apos;un clavier de PC, les accents par des touches mortes, comme l&apos;attend l&apos;invité. L&apos;invité doit utiliser cette disposition de clavier.</translation>
    </message>
    <message>
        <source>This desktop does not tell which window has the focus: choose Every window while you type into a viewer.</source>
        <translation>Ce bureau n&apos;indique pas quelle fenêtre a le focus&#xa0;: choisissez «&#xa0;Toutes les fenêtres&#xa0;» pendant que vous saisissez dans un visualiseur.</translation>
    </message>
</context>
<context>
    <name>X11AccessibilityTrust</name>
    <message>
        <source>No X display can be reached (DISPLAY=&quot;%1&quot;), so Keyloom can neither type nor watch the keyboard.</source>
        <translation>Aucun affichage X n&apos;est joignable (DISPLAY=&quot;%1&quot;), donc Keyloom ne peut ni saisir ni surveiller le clavier.</translation>
    </message>
    <message>
        <source>The X server does not offer the XTEST extension, which Keyloom needs to type and to read the keyboard. Enable it in the X server configuration (it is on by default).</source>
        <translation>Le serveur X n&apos;offre pas l&apos;extension XTEST, dont Keyloom a besoin pour saisir et lire le clavier. Activez-la dans la configuration du serveur X (elle l&apos;est par défaut).</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Usage: keyloom [--toggle | --previous | --stop | --settings]

Without an option, starts Keyloom in the system tray (or opens the settings window of the
Keyloom already running). The options control the running Keyloom, for a keyboard shortcut
set in the desktop&apos;s own settings or for a script:

  --toggle     start typing (the clipboard or the current snippet), or stop a run;
               like Keyloom&apos;s own shortcut, after every key is let go
  --previous   step back to the previous snippet (list mode)
  --stop       stop typing
  --settings   open the settings window
  --help       show this help

The exit status is 0 when the running Keyloom took the command, and 1 when none runs.
</source>
        <translation>Utilisation&#xa0;: keyloom [--toggle | --previous | --stop | --settings]

Sans option, lance Keyloom dans la zone de notification (ou ouvre la fenêtre des paramètres
du Keyloom déjà lancé). Les options pilotent le Keyloom lancé, pour un raccourci clavier
défini dans les paramètres du bureau ou pour un script&#xa0;:

  --toggle     commencer la saisie (le presse-papiers ou l&apos;extrait actuel) ou l&apos;arrêter&#xa0;;
               comme le raccourci clavier de Keyloom, une fois toutes les touches relâchées
  --previous   revenir à l&apos;extrait précédent (mode liste)
  --stop       arrêter la saisie
  --settings   ouvrir la fenêtre des paramètres
  --help       afficher cette aide

Le code de sortie vaut 0 quand le Keyloom lancé a pris la commande, et 1 quand aucun
n&apos;est lancé.
</translation>
    </message>
    <message>
        <source>No Keyloom is running.</source>
        <translation>Aucun Keyloom n&apos;est lancé.</translation>
    </message>
    <message>
        <source>The running Keyloom did not answer.</source>
        <translation>Le Keyloom lancé n&apos;a pas répondu.</translation>
    </message>
    <message>
        <source>unknown option %1 (see keyloom --help)</source>
        <translation>option inconnue %1 (voir keyloom --help)</translation>
    </message>
</context>
</TS>
