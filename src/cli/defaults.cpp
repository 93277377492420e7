// lumenar-cli defaults: reads and changes the user defaults store, so that a user or a
// script can set the organize mode, the encoding and the like.
//   read KEY          prints the value; an absent key prints nothing and exits 1
//   write KEY VALUE   a whole number is stored as an integer, anything else as a string
//   delete KEY        removes the key
// The store is $XDG_CONFIG_HOME/Lumenar/Lumenar.conf.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QStringList>
#include <QVariant>

#include "cli/cli.h"
#include "platform/core/user_defaults.h"

static bool parseInteger(const char *text, qint64 *value)
{
    const char *s = text;
    if (*s == '+' || *s == '-')
        s++;
    if (*s == '\0')
        return false;
    for (const char *p = s; *p; p++)
        if (*p < '0' || *p > '9')
            return false;
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(text, &end, 10);
    if (errno == ERANGE || *end != '\0')
        return false;
    *value = v;
    return true;
}

static int runDefaults(int argc, char **argv)
{
    if (argc < 3)
        return cli::usageError("defaults", "expected read, write or delete and a key");
    const char *verb = argv[1];
    QString key = QString::fromLocal8Bit(argv[2]);
    if (key.isEmpty())
        return cli::usageError("defaults", "the key is empty");
    if (strcmp(verb, "read") == 0 && argc == 3) {
        QVariant value = UserDefaults::objectForKey(key);
        if (!value.isValid())
            return 1;
        QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(QStringLiteral(","))
                                                                : value.toString();
        printf("%s\n", text.toUtf8().constData());
        return 0;
    }
    if (strcmp(verb, "write") == 0 && argc == 4) {
        qint64 number;
        if (parseInteger(argv[3], &number))
            UserDefaults::setInteger(key, number);
        else
            UserDefaults::setString(key, QString::fromLocal8Bit(argv[3]));
        return 0;
    }
    if (strcmp(verb, "delete") == 0 && argc == 3) {
        UserDefaults::removeObjectForKey(key);
        return 0;
    }
    return cli::usageError("defaults", "expected read KEY, write KEY VALUE or delete KEY");
}

LUMENAR_CLI_COMMAND("defaults",
                    "read KEY | write KEY VALUE | delete KEY   the user defaults store (read of an absent "
                    "key prints nothing and exits 1; whole numbers are written as integers)",
                    runDefaults);
